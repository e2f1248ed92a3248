#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/records.hpp"
#include "store/atomic_write.hpp"
#include "store/transaction.hpp"
#include "store/write_fault.hpp"
#include "support/store/fixtures.hpp"
#include "support/store/state_workspace.hpp"

namespace morvik::store::transaction {
namespace {

using namespace morvik::store::testing;
using core::HashValue;

TransactionV1 sample_transaction(const HashValue& root) {
  return TransactionV1{
      cord::Bytes(32, 0x11),
      root,
      NativePathV1{NativePathV1::Unix{cord::Bytes{'/', 'w', '/', 0xff}}},
      "vault mutation",
      file_precondition::Hash{hash_of(0x22)},
      file_precondition::Absent{},
      AfterImage{cord::Bytes{'v', 'a', 'u', 'l', 't'}},
      AfterImage{cord::Bytes{'r', 'a', 't', 'c', 'h', 'e', 't'}},
  };
}

// The bytes of a vault file of secrets whose sealed content adds up to a
// little over `size` bytes, each record well within the decoder's limits.
cord::Bytes vault_file_of_size(std::size_t size) {
  core::VaultStore store{core::vault_store::V1{}};
  constexpr std::size_t kChunk = 1 << 20;
  for (std::size_t i = 0; i * kChunk < size; ++i) {
    core::SecretRecordV1 secret{core::SecretId{hash_of(static_cast<std::uint8_t>(i))},
                                {{"big", std::to_string(i)}, {}},
                                {cord::Bytes(12, 0), cord::Bytes(kChunk, static_cast<std::uint8_t>(i)), {}},
                                i + 1};
    core::vault_records(store).insert(
        core::VaultRecordV1{core::RecordBodyV1(std::move(secret)), cord::Bytes(32, 1), cord::Bytes(64, 2)});
  }
  cord::Bytes bytes{'m', 'o', 'r', 'v', 'i', 'k', '-', 'v', 'a', 'u', 'l', 't', 0};
  auto encoded = cord::serialize(store);
  EXPECT_TRUE(encoded);
  bytes.insert(bytes.end(), encoded->begin(), encoded->end());
  return bytes;
}

cord::Bytes encoded(const TransactionV1& transaction) {
  auto bytes = encode_transaction(transaction);
  EXPECT_TRUE(bytes) << bytes.error().message();
  return bytes.value_or(cord::Bytes{});
}

class TransactionTest : public StateWorkspaceTest {
 protected:
  Path file() const { return transaction_path(paths_, root_); }

  std::string read_error() {
    auto read = read_transaction(paths_, root_);
    EXPECT_FALSE(read);
    return read ? "" : read.error().message();
  }
};

TEST_F(TransactionTest, ShapeRulesInOrder) {
  struct Case {
    const char* text;
    std::function<void(TransactionV1&)> change;
  };
  const Case cases[] = {
      {"transaction ID must be exactly 32 bytes", [](auto& t) { t.transaction_id.resize(31); }},
      // Only the first rule that fails is reported.
      {"transaction ID must be exactly 32 bytes",
       [](auto& t) {
         t.transaction_id.resize(33);
         t.operation.clear();
       }},
      {"transaction operation label is empty or too long", [](auto& t) { t.operation.clear(); }},
      {"transaction operation label is empty or too long", [](auto& t) { t.operation = std::string(129, 'x'); }},
      {"transaction file hash must be 32 bytes", [](auto& t) { t.vault_before = file_precondition::Hash{hash_of(1, 31)}; }},
      {"transaction file hash must be 32 bytes",
       [](auto& t) { t.ratchet_before = file_precondition::Hash{hash_of(1, 33)}; }},
      {"transaction vault after-image is too large",
       [](auto& t) { t.next_vault_bytes.bytes.resize(kMaxAfterImageBytes + 1); }},
      {"transaction ratchet after-image is too large",
       [](auto& t) { t.next_ratchet_bytes.bytes.resize(kMaxAfterImageBytes + 1); }},
      {"transaction Windows path has odd byte length",
       [](auto& t) { t.vault_path = NativePathV1{NativePathV1::WindowsUtf16Le{cord::Bytes(3, 'a')}}; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TransactionV1 transaction = sample_transaction(root_);
    c.change(transaction);
    auto shaped = validate_shape(Path("/j"), transaction);
    ASSERT_FALSE(shaped);
    EXPECT_EQ(shaped.error().message(), std::string("transaction file /j is invalid: ") + c.text);
    // Encoding names the bare file name.
    auto bytes = encode_transaction(transaction);
    ASSERT_FALSE(bytes);
    EXPECT_EQ(bytes.error().message(), std::string("transaction file transaction.cord is invalid: ") + c.text);
  }
}

TEST_F(TransactionTest, ShapeBoundariesPass) {
  TransactionV1 transaction = sample_transaction(root_);
  for (std::size_t size : {1u, 128u}) {
    transaction.operation = std::string(size, 'o');
    EXPECT_TRUE(validate_shape(Path("/j"), transaction));
  }
  transaction.vault_before = file_precondition::Absent{};
  transaction.vault_path = NativePathV1{NativePathV1::WindowsUtf16Le{cord::Bytes(4, 'a')}};
  EXPECT_TRUE(validate_shape(Path("/j"), transaction));
}

TEST_F(TransactionTest, EncodeDecodeRoundTripAndFileLayout) {
  const TransactionV1 transaction = sample_transaction(root_);
  const cord::Bytes bytes = encoded(transaction);
  EXPECT_EQ(encoded(transaction), bytes);
  const cord::Bytes head(bytes.begin(), bytes.begin() + 27);
  EXPECT_EQ(head, (cord::Bytes{'m', 'o', 'r', 'v', 'i', 'k', '-', 't', 'r', 'a', 'n', 's', 'a', 'c',
                               't', 'i', 'o', 'n', 0,   0,   0,   0,   0,   0,   0,   0,   32}));
  auto decoded = decode_transaction(Path("/j"), bytes);
  ASSERT_TRUE(decoded) << decoded.error().message();
  EXPECT_EQ(*decoded, transaction);
}

TEST_F(TransactionTest, DecodingErrors) {
  const cord::Bytes good = encoded(sample_transaction(root_));
  const cord::Bytes magic(kTransactionMagic.begin(), kTransactionMagic.end());
  cord::Bytes wrong_magic = magic;
  wrong_magic[0] = 'M';
  cord::Bytes variant_one = good;
  variant_one[22] = 1;
  cord::Bytes trailing = good;
  trailing.push_back(0);
  const std::string prefix = "transaction file /j is invalid: ";
  const std::pair<cord::Bytes, std::string> cases[] = {
      {cord::Bytes(magic.begin(), magic.end() - 1), "missing morvik transaction magic"},
      {wrong_magic, "missing morvik transaction magic"},
      {magic, "transaction Cord payload is invalid: Unexpected end of input"},
      {variant_one, "transaction Cord payload is invalid: Cord encountered unknown enum variant index 1"},
      {trailing, "transaction Cord payload is invalid: Trailing bytes after deserialization"},
  };
  for (const auto& [bytes, text] : cases) {
    auto decoded = decode_transaction(Path("/j"), bytes);
    ASSERT_FALSE(decoded) << text;
    EXPECT_EQ(decoded.error().message(), prefix + text);
  }
}

TEST_F(TransactionTest, DecodedShapeIsChecked) {
  // Bytes that only the shape rules refuse: written directly by the codec.
  TransactionV1 transaction = sample_transaction(root_);
  transaction.operation = std::string(129, 'x');
  cord::Bytes bytes(kTransactionMagic.begin(), kTransactionMagic.end());
  ASSERT_TRUE(cord::write(cord::CordSerializer(bytes), TransactionStore{transaction_store::V1{transaction}}));
  auto decoded = decode_transaction(Path("/j"), bytes);
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.error().message(), "transaction file /j is invalid: transaction operation label is empty or too long");
}

TEST_F(TransactionTest, OversizeInputIsRefusedBeforeDecoding) {
  cord::Bytes huge(kMaxTransactionBytes + 1, 0);
  auto decoded = decode_transaction(Path("/j"), huge);
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.error().message(),
            "transaction file /j is invalid: transaction is 537919489 bytes, above the supported maximum of 537919488");
}

TEST_F(TransactionTest, WriteThenReadForItsRoot) {
  ScopedUmask umask(0);
  const TransactionV1 transaction = sample_transaction(root_);
  ASSERT_TRUE(write_transaction_atomic(paths_, transaction));
  EXPECT_EQ(file(), dir_ / "state" / hex_hash(root_) / "transaction.cord");
  EXPECT_EQ(mode_of(file()), 0600u);
  EXPECT_EQ(mode_of(*file().parent()), 0700u);
  auto read = read_transaction(paths_, root_);
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, transaction);
}

// A vault above the decoder's usual 16 MiB length limit must leave a journal
// that can be read back, or it would block the vault on this machine.
TEST_F(TransactionTest, JournalOfA20MiBVaultIsReadBack) {
  TransactionV1 transaction = sample_transaction(root_);
  transaction.next_vault_bytes.bytes = vault_file_of_size(20 << 20);
  ASSERT_GT(transaction.next_vault_bytes.bytes.size(), cord::kMaxLength);
  ASSERT_TRUE(write_transaction_atomic(paths_, transaction));
  auto read = read_transaction(paths_, root_);
  ASSERT_TRUE(read) << read.error().message();
  EXPECT_EQ(*read, transaction);
}

// `size` bytes that differ from their neighbours, so that a piece written or
// compared one byte off shows.
cord::Bytes image_of(std::size_t size, std::uint8_t seed) {
  cord::Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i + seed) % 251);
  return bytes;
}

TransactionViewV1 view_of(const TransactionV1& t) {
  return TransactionViewV1{t.transaction_id,  t.trusted_root,   t.vault_path,
                           t.operation,       t.vault_before,   t.ratchet_before,
                           {t.next_vault_bytes.bytes}, {t.next_ratchet_bytes.bytes}};
}

// The journal is written from its after-images where they lie, and is the
// very file encode_transaction describes: with either after-image empty, and
// with the vault after-image ending just before, at and after the end of one
// chunk of the read-back's comparison.
TEST_F(TransactionTest, JournalWrittenFromItsPiecesIsTheEncodedJournal) {
  TransactionV1 empty = sample_transaction(root_);
  empty.next_vault_bytes.bytes.clear();
  empty.next_ratchet_bytes.bytes.clear();
  // All of the file before the vault after-image: all but the ratchet's
  // length of a journal with empty after-images.
  const std::size_t head = encoded(empty).size() - 4;
  constexpr std::size_t kChunk = 65'536;
  const std::pair<std::size_t, std::size_t> sizes[] = {
      {0, 0},           {5, 0},           {0, 7},         {kChunk - head - 1, 1}, {kChunk - head, 2},
      {kChunk - head + 1, kChunk + 1}, {3 * kChunk + 7, kChunk},
  };
  for (const auto& [vault, ratchet] : sizes) {
    SCOPED_TRACE("vault " + std::to_string(vault) + ", ratchet " + std::to_string(ratchet));
    TransactionV1 transaction = sample_transaction(root_);
    transaction.next_vault_bytes.bytes = image_of(vault, 1);
    transaction.next_ratchet_bytes.bytes = image_of(ratchet, 2);
    const cord::Bytes expected = encoded(transaction);

    ASSERT_TRUE(write_transaction_atomic(paths_, view_of(transaction)));
    EXPECT_EQ(read_file(file()), expected);
    ASSERT_TRUE(write_transaction_atomic(paths_, transaction));
    EXPECT_EQ(read_file(file()), expected);
    auto read = read_transaction(paths_, root_);
    ASSERT_TRUE(read) << read.error().message();
    EXPECT_EQ(*read, transaction);
  }
}

// A write that fails after some of the journal's pieces are written (at the
// first piece, at either after-image, at the ratchet's length before it) is
// reported naming the temporary file, which is gone, and leaves no journal.
TEST_F(TransactionTest, FailureWithinThePiecesLeavesNoJournal) {
  TransactionV1 transaction = sample_transaction(root_);
  transaction.next_vault_bytes.bytes = image_of(100'000, 1);
  transaction.next_ratchet_bytes.bytes = image_of(1'000, 2);
  for (int failing = 0; failing < 4; ++failing) {
    SCOPED_TRACE("piece " + std::to_string(failing));
    int writes = 0;
    Path failed_at;
    ScopedWriteFault fault([&](WriteStep step, const Path& path) {
      if (step != WriteStep::WriteTemporary || writes++ != failing) return 0;
      failed_at = path;
      return EIO;
    });
    auto written = write_transaction_atomic(paths_, view_of(transaction));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message(), "I/O error at " + failed_at.display() + ": Input/output error (os error 5)");
    EXPECT_EQ(failed_at.parent(), file().parent());
    EXPECT_EQ(list_dir(*file().parent()), std::vector<std::string>{});
  }
}

// The system cuts a write short in the middle of the vault after-image (the
// file size limit is reached there) and fails the rest: reported as before.
TEST_F(TransactionTest, ShortWriteWithinAnAfterImageLeavesNoJournal) {
  TransactionV1 transaction = sample_transaction(root_);
  transaction.next_vault_bytes.bytes = image_of(100'000, 1);
  transaction.next_ratchet_bytes.bytes = image_of(1'000, 2);
  Path temporary;
  ScopedWriteFault watch([&](WriteStep step, const Path& path) {
    if (step == WriteStep::CreateTemporary) temporary = path;
    return 0;
  });
  {
    const ScopedFileSizeLimit limit(50'000);
    auto written = write_transaction_atomic(paths_, view_of(transaction));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message(), "I/O error at " + temporary.display() + ": File too large (os error 27)");
  }
  EXPECT_EQ(list_dir(*file().parent()), std::vector<std::string>{});
}

TEST_F(TransactionTest, OtherByteStringsKeepTheirLimit) {
  TransactionV1 transaction = sample_transaction(root_);
  transaction.trusted_root = hash_of(1, cord::kMaxLength + 1);
  cord::Bytes bytes(kTransactionMagic.begin(), kTransactionMagic.end());
  ASSERT_TRUE(cord::write(cord::CordSerializer(bytes), TransactionStore{transaction_store::V1{transaction}}));
  auto decoded = decode_transaction(Path("/j"), bytes);
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.error().message(),
            "transaction file /j is invalid: transaction Cord payload is invalid: Cord length limit exceeded: "
            "16777217 exceeds maximum of 16777216");
}

TEST_F(TransactionTest, OversizeFileIsAnIoError) {
  ASSERT_TRUE(write_transaction_atomic(paths_, sample_transaction(root_)));
  ASSERT_EQ(::truncate(file().bytes().c_str(), kMaxTransactionBytes + 1), 0);
  EXPECT_EQ(read_error(), "I/O error at " + file().display() +
                              ": file is 537919489 bytes, above the supported maximum of 537919488");
}

TEST_F(TransactionTest, AbsentJournalIsNone) {
  auto read = read_transaction(paths_, root_);
  ASSERT_TRUE(read);
  EXPECT_FALSE(read->has_value());
}

TEST_F(TransactionTest, JournalOfAnotherRootIsRefused) {
  ASSERT_TRUE(create_dir_all(*file().parent()));
  write_file(file(), encoded(sample_transaction(hash_of(0xBB))));
  EXPECT_EQ(read_error(), "transaction file " + file().display() +
                              " is invalid: transaction trusted root does not match its state directory");
}

TEST_F(TransactionTest, LinkDirectoryAndFifoInPlaceOfTheJournalAreErrors) {
  ASSERT_TRUE(create_dir_all(*file().parent()));
  write_file(dir_ / "real", encoded(sample_transaction(root_)));
  make_symlink((dir_ / "real").bytes(), file());
  EXPECT_EQ(read_error(), "I/O error at " + file().display() + ": Too many levels of symbolic links (os error 40)");
  ::unlink(file().bytes().c_str());
  make_dir(file());
  EXPECT_EQ(read_error(), "I/O error at " + file().display() + ": not a regular file");
  ::rmdir(file().bytes().c_str());
  make_fifo(file());
  EXPECT_EQ(read_error(), "I/O error at " + file().display() + ": not a regular file");
}

TEST_F(TransactionTest, ReadBackMismatchIsReported) {
  ScopedWriteFault tamper([&](WriteStep step, const Path& path) {
    if (step == WriteStep::ReadBack) write_file(path, "tampered");
    return 0;
  });
  auto written = write_transaction_atomic(paths_, sample_transaction(root_));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "transaction file " + file().display() +
                                           " is invalid: transaction bytes differed immediately after atomic write");
}

// A journal that cannot be read back, even one that vanished, is not known
// to be there.
TEST_F(TransactionTest, JournalMissingAtTheReadBackIsAnIoError) {
  ScopedWriteFault vanish([](WriteStep step, const Path& path) {
    if (step == WriteStep::ReadBack) ::unlink(path.bytes().c_str());
    return 0;
  });
  auto written = write_transaction_atomic(paths_, sample_transaction(root_));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "I/O error at " + file().display() + ": No such file or directory (os error 2)");
}

TEST_F(TransactionTest, NativePaths) {
  make_dir(dir_ / "real");
  write_file(dir_ / "real" / "vault.cord", "");
  make_symlink((dir_ / "real").bytes(), dir_ / "alias");
  auto canonical = NativePathV1::canonical(dir_ / "alias" / "." / "vault.cord");
  ASSERT_TRUE(canonical);
  auto expected = NativePathV1::canonical(dir_ / "real" / "vault.cord");
  ASSERT_TRUE(expected);
  EXPECT_EQ(*canonical, *expected);
  const std::string resolved = std::filesystem::canonical((dir_ / "real" / "vault.cord").bytes()).string();
  EXPECT_EQ(NativePathV1::to_path_buf(*canonical), std::optional<Path>(Path(resolved)));
  EXPECT_EQ(NativePathV1::matches_canonical(*canonical, dir_ / "real" / ".." / "alias" / "vault.cord"), true);
  EXPECT_EQ(NativePathV1::matches_canonical(*canonical, dir_ / "real"), false);

  const NativePathV1 windows{NativePathV1::WindowsUtf16Le{cord::Bytes{'C', 0, ':', 0}}};
  EXPECT_EQ(NativePathV1::to_path_buf(windows), std::nullopt);
  EXPECT_EQ(NativePathV1::matches_canonical(windows, dir_ / "real" / "vault.cord"), false);

  auto missing = NativePathV1::canonical(dir_ / "nothing");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message(),
            "I/O error at " + (dir_ / "nothing").display() + ": No such file or directory (os error 2)");
}

}  // namespace
}  // namespace morvik::store::transaction
