#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "store/atomic_write.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_file.hpp"
#include "store/write_fault.hpp"
#include "support/cord/corruptions.hpp"
#include "support/store/fixtures.hpp"
#include "support/store/state_workspace.hpp"

namespace morvik::store {
namespace {

using namespace testing;
using core::HashValue;
using core::ratchet::Ratchet;

template <class Id>
Id id_of(std::uint8_t fill) {
  return Id{hash_of(fill)};
}

// A ratchet with a watermark of several kinds, origins, a format version and
// one record of a kind this version does not know.
Ratchet sample_ratchet(const HashValue& root) {
  Ratchet ratchet(root);
  const core::RecordKey user = core::record_key::User{id_of<core::UserId>(1)};
  const core::RecordKey secret = core::record_key::Secret{id_of<core::SecretId>(2)};
  const core::RecordKey handle = core::record_key::UserHandle{id_of<core::UserHandleId>(3)};
  ratchet.watermarks = {{user, 5}, {secret, 9}, {handle, 2}};
  ratchet.origins = {{secret, core::key_origin::Secret{{"db", "password"}, {}}},
                     {handle, core::key_origin::UserHandle{"alice"}}};
  ratchet.format_version = 1;
  ratchet.unknown = {{cord::Bytes{0, 0, 0, 42, 1, 2, 3}}};
  return ratchet;
}

// File bytes holding exactly `records`, whatever a ratchet would write.
cord::Bytes file_of(std::initializer_list<cord::Evolving<core::RatchetRecordV1>> records) {
  cord::Set<cord::Evolving<core::RatchetRecordV1>> set;
  for (const auto& record : records) set.insert(record);
  auto encoded = cord::serialize(RatchetStore{ratchet_store::V1{set}});
  EXPECT_TRUE(encoded);
  cord::Bytes bytes(kRatchetMagic.begin(), kRatchetMagic.end());
  bytes.insert(bytes.end(), encoded->begin(), encoded->end());
  return bytes;
}

core::RatchetRecordV1 root_record(const HashValue& root) { return core::TrustedRootRatchetRecordV1{root}; }

class RatchetFileTest : public StateWorkspaceTest {
 protected:
  std::string message_of(const StoreResult<std::optional<Ratchet>>& read) {
    EXPECT_FALSE(read);
    return read ? "" : read.error().message();
  }
};

TEST_F(RatchetFileTest, EncodeDecodeRoundTrip) {
  const Ratchet ratchet = sample_ratchet(root_);
  auto bytes = encode_ratchet(ratchet);
  ASSERT_TRUE(bytes);
  EXPECT_TRUE(std::equal(kRatchetMagic.begin(), kRatchetMagic.end(), bytes->begin()));
  auto decoded = decode_ratchet(Path("r"), *bytes);
  ASSERT_TRUE(decoded) << decoded.error().message();
  EXPECT_EQ(*decoded, ratchet);
  EXPECT_EQ(encode_ratchet(*decoded), bytes);
}

// The file is the ratchet's set as a Set writes it, whatever order the
// records come in and however many repeat.
TEST_F(RatchetFileTest, EncodingWritesTheRatchetsSet) {
  Ratchet many(root_);
  for (std::uint8_t i = 0; i < 200; ++i) {
    many.watermarks[core::record_key::Secret{id_of<core::SecretId>(i)}] = 1000 - i;
    many.watermarks[core::record_key::User{id_of<core::UserId>(i)}] = i;
  }
  Ratchet repeated = sample_ratchet(root_);
  repeated.unknown.push_back(repeated.unknown.front());
  repeated.unknown.push_back({cord::Bytes{0, 0, 0, 99}});
  for (const Ratchet& ratchet : {Ratchet(root_), sample_ratchet(root_), many, repeated}) {
    EXPECT_EQ(encode_ratchet(ratchet).value(), encode_with_magic(kRatchetMagic, to_ratchet_store(ratchet)).value());
  }
}

TEST_F(RatchetFileTest, FreshRatchetHoldsOnlyTheRoot) {
  auto bytes = encode_ratchet(Ratchet(root_));
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, file_of({root_record(root_)}));
}

TEST_F(RatchetFileTest, UnknownRecordsAreKeptByteForByte) {
  // A record kind this version does not know (variant index 77), stored
  // between known ones.
  const cord::Bytes unknown{0, 0, 0, 77, 0xde, 0xad, 0xbe, 0xef};
  const cord::Bytes file = file_of({root_record(root_), cord::UnknownPayload{unknown},
                                    core::RatchetRecordV1(core::ratchet_record::FormatVersion{3})});
  auto ratchet = decode_ratchet(Path("r"), file);
  ASSERT_TRUE(ratchet);
  ASSERT_EQ(ratchet->unknown.size(), 1u);
  EXPECT_EQ(ratchet->unknown[0].bytes, unknown);
  EXPECT_EQ(ratchet->format_version, 3u);
  EXPECT_EQ(encode_ratchet(*ratchet), file);
}

TEST_F(RatchetFileTest, FormatVersionZeroIsNotWrittenBack) {
  const cord::Bytes file =
      file_of({root_record(root_), core::RatchetRecordV1(core::ratchet_record::FormatVersion{0})});
  auto ratchet = decode_ratchet(Path("r"), file);
  ASSERT_TRUE(ratchet);
  EXPECT_EQ(encode_ratchet(*ratchet), file_of({root_record(root_)}));
}

TEST_F(RatchetFileTest, DecodingErrorsNameTheFile) {
  const std::string magic_text = "ratchet file r is invalid: Cord could not validate: "
                                 "not a morvik state file (missing magic prefix)";
  const cord::Bytes short_magic(kRatchetMagic.begin(), kRatchetMagic.end() - 1);
  cord::Bytes wrong_magic = file_of({root_record(root_)});
  wrong_magic[14] = '!';
  cord::Bytes store_variant_one(kRatchetMagic.begin(), kRatchetMagic.end());
  store_variant_one.insert(store_variant_one.end(), {0, 0, 0, 1, 0, 0, 0, 0});
  cord::Bytes trailing = file_of({root_record(root_)});
  trailing.push_back(0);

  const std::pair<cord::Bytes, std::string> cases[] = {
      {short_magic, magic_text},
      {wrong_magic, magic_text},
      {cord::Bytes(kRatchetMagic.begin(), kRatchetMagic.end()), "ratchet file r is invalid: Unexpected end of input"},
      {store_variant_one, "ratchet file r is invalid: Cord encountered unknown enum variant index 1"},
      {trailing, "ratchet file r is invalid: Trailing bytes after deserialization"},
      {file_of({core::RatchetRecordV1(core::ratchet_record::FormatVersion{1})}),
       "ratchet file r is invalid: Cord could not validate: ratchet file missing its trusted-root record"},
  };
  for (const auto& [bytes, text] : cases) {
    auto decoded = decode_ratchet(Path("r"), bytes);
    ASSERT_FALSE(decoded) << text;
    EXPECT_EQ(decoded.error().message(), text);
  }
}

// Checking a ratchet file without building the ratchet accepts exactly what
// decoding accepts, giving the root decoding gives, and refuses the rest
// with decoding's error: shown on every truncation of files with records of
// several kinds or two roots, and on every byte of them changed.
TEST_F(RatchetFileTest, CheckingAgreesWithDecodingOnEveryCorruption) {
  const cord::Bytes sample = encode_ratchet(sample_ratchet(root_)).value();
  const cord::Bytes two_roots = file_of({root_record(hash_of(0x00, 33)), root_record(hash_of(0xFF, 32))});
  std::vector<cord::Bytes> inputs = morvik::testing::corruptions_of(sample);
  for (cord::Bytes& input : morvik::testing::corruptions_of(two_roots)) inputs.push_back(std::move(input));
  std::size_t accepted = 0;
  for (const auto& input : inputs) {
    const auto decoded = decode_ratchet(Path("r"), input);
    const auto checked = check_ratchet(Path("r"), input);
    ASSERT_EQ(checked.has_value(), decoded.has_value()) << hex_hash(input);
    if (!decoded) {
      EXPECT_EQ(checked.error().message(), decoded.error().message()) << hex_hash(input);
      continue;
    }
    ++accepted;
    EXPECT_EQ(*checked, decoded->trusted_root) << hex_hash(input);
  }
  EXPECT_GT(accepted, sample.size() / 2);
}

TEST_F(RatchetFileTest, RepeatedRecordsResolveInCanonicalOrder) {
  const core::RecordKey key = core::record_key::Secret{id_of<core::SecretId>(7)};
  const auto secret = [](std::uint64_t counter, std::string segment) {
    return core::RatchetRecordV1(core::SecretRatchetRecordV1{id_of<core::SecretId>(7), counter, {{segment}, {}}});
  };
  // In value order the 33-byte root of zeros comes first; in canonical order
  // (encodings, the shorter first) it comes last. The last one counts. Of the
  // two origins the first in canonical order (the shorter encoding) stays.
  const HashValue long_root = hash_of(0x00, 33);
  const HashValue short_root = hash_of(0xFF, 32);
  const cord::Bytes file = file_of({root_record(long_root), root_record(short_root), secret(4, "longer-name"),
                                    secret(8, "b")});
  auto ratchet = decode_ratchet(Path("r"), file);
  ASSERT_TRUE(ratchet);
  EXPECT_EQ(ratchet->trusted_root, long_root);
  EXPECT_EQ(ratchet->watermarks.at(key), 8u);
  EXPECT_EQ(ratchet->origins.at(key), core::KeyOrigin(core::key_origin::Secret{{"b"}, {}}));
}

TEST_F(RatchetFileTest, WriteThenReadForItsRoot) {
  for (mode_t mask : {0000, 0077}) {
    SCOPED_TRACE(mask);
    ScopedUmask umask(mask);
    const Ratchet ratchet = sample_ratchet(root_);
    ASSERT_TRUE(write_ratchet_atomic(paths_, ratchet));
    const Path file = ratchet_path(paths_, root_);
    EXPECT_EQ(file, dir_ / "state" / std::string(64, 'a') / "ratchet.cord");
    EXPECT_EQ(mode_of(file), 0600u);
    EXPECT_EQ(mode_of(*file.parent()), 0700u);
    auto read = read_ratchet_for_root(paths_, root_);
    ASSERT_TRUE(read);
    ASSERT_TRUE(read->has_value());
    EXPECT_EQ(**read, ratchet);
    EXPECT_EQ(list_dir(*file.parent()), std::vector<std::string>{"ratchet.cord"});
  }
}

TEST_F(RatchetFileTest, AbsentFileIsNoRatchet) {
  auto read = read_ratchet_for_root(paths_, root_);
  ASSERT_TRUE(read);
  EXPECT_FALSE(read->has_value());
}

TEST_F(RatchetFileTest, LinkDirectoryAndFifoInPlaceOfTheFileAreErrors) {
  const Path file = ratchet_path(paths_, root_);
  ASSERT_TRUE(write_ratchet_atomic(paths_, Ratchet(root_)));
  ASSERT_EQ(::rename(file.bytes().c_str(), (dir_ / "real").bytes().c_str()), 0);

  make_symlink((dir_ / "real").bytes(), file);
  EXPECT_EQ(message_of(read_ratchet_for_root(paths_, root_)),
            "I/O error at " + file.display() + ": Too many levels of symbolic links (os error 40)");
  ::unlink(file.bytes().c_str());
  make_dir(file);
  EXPECT_EQ(message_of(read_ratchet_for_root(paths_, root_)), "I/O error at " + file.display() + ": not a regular file");
  ::rmdir(file.bytes().c_str());
  make_fifo(file);
  EXPECT_EQ(message_of(read_ratchet_for_root(paths_, root_)), "I/O error at " + file.display() + ": not a regular file");
}

TEST_F(RatchetFileTest, FileOfAnotherRootIsRefused) {
  const HashValue other = hash_of(0x01, 3);
  const std::string text = "trust root mismatch: file has HashValue([1, 1, 1]), requested " + core::debug_string(root_);
  // Written for one root, found in the directory of another.
  ASSERT_TRUE(write_ratchet_atomic(paths_, Ratchet(other)));
  ASSERT_TRUE(create_dir_all(*ratchet_path(paths_, root_).parent()));
  ASSERT_EQ(::rename(ratchet_path(paths_, other).bytes().c_str(), ratchet_path(paths_, root_).bytes().c_str()), 0);
  EXPECT_EQ(message_of(read_ratchet_for_root(paths_, root_)), text);

  // Bytes of another root are refused before anything is written.
  const cord::Bytes before = read_file(ratchet_path(paths_, root_));
  auto written = write_ratchet_bytes_atomic(paths_, root_, *encode_ratchet(sample_ratchet(other)));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), text);
  EXPECT_EQ(read_file(ratchet_path(paths_, root_)), before);
}

// Asking whether a root has its ratchet, which builds none, answers and
// fails exactly as reading it does.
TEST_F(RatchetFileTest, ExistenceIsAnsweredAndRefusedAsAReadIs) {
  const Path file = ratchet_path(paths_, root_);
  const auto expect_as_read = [&](bool present) {
    const auto read = read_ratchet_for_root(paths_, root_);
    const auto exists = ratchet_exists_for_root(paths_, root_);
    ASSERT_EQ(exists.has_value(), read.has_value());
    if (read) {
      EXPECT_EQ(*exists, present);
      EXPECT_EQ(read->has_value(), present);
    } else {
      EXPECT_EQ(exists.error().message(), read.error().message());
    }
  };
  expect_as_read(false);
  ASSERT_TRUE(write_ratchet_atomic(paths_, sample_ratchet(root_)));
  expect_as_read(true);
  write_file(file, *encode_ratchet(sample_ratchet(hash_of(0x01, 3))));
  expect_as_read(false);
  write_file(file, cord::ByteView(cord::Bytes{1, 2, 3}));
  expect_as_read(false);
  ASSERT_EQ(::unlink(file.bytes().c_str()), 0);
  make_dir(file);
  expect_as_read(false);
}

TEST_F(RatchetFileTest, InvalidOrOversizeBytesAreRefusedBeforeWriting) {
  const Path file = ratchet_path(paths_, root_);
  auto garbage = write_ratchet_bytes_atomic(paths_, root_, cord::Bytes{1, 2, 3});
  ASSERT_FALSE(garbage);
  EXPECT_NE(garbage.error().as<StoreError::InvalidRatchet>(), nullptr);

  cord::Bytes huge = *encode_ratchet(Ratchet(root_));
  huge.resize(kMaxRatchetFileBytes + 1);
  auto oversize = write_ratchet_bytes_atomic(paths_, root_, huge);
  ASSERT_FALSE(oversize);
  EXPECT_EQ(oversize.error().message(),
            "I/O error at " + file.display() + ": ratchet is 268435457 bytes, above the supported maximum of 268435456");
  EXPECT_FALSE(exists(file));
}

TEST_F(RatchetFileTest, ReadsUpToTheLimit) {
  const Path file = ratchet_path(paths_, root_);
  ASSERT_TRUE(write_ratchet_atomic(paths_, Ratchet(root_)));
  // Sparse files: the limit is checked on the size before anything is read.
  ASSERT_EQ(::truncate(file.bytes().c_str(), kMaxRatchetFileBytes + 1), 0);
  EXPECT_EQ(message_of(read_ratchet_for_root(paths_, root_)),
            "I/O error at " + file.display() + ": file is 268435457 bytes, above the supported maximum of 268435456");
  ASSERT_EQ(::truncate(file.bytes().c_str(), kMaxRatchetFileBytes), 0);
  // Read whole, then refused for its trailing zeros.
  EXPECT_EQ(message_of(read_ratchet_for_root(paths_, root_)),
            "ratchet file " + file.display() + " is invalid: Trailing bytes after deserialization");
}

TEST_F(RatchetFileTest, ReadBackMismatchIsReported) {
  const Path file = ratchet_path(paths_, root_);
  ScopedWriteFault tamper([&](WriteStep step, const Path& path) {
    if (step == WriteStep::ReadBack) write_file(path, "tampered");
    return 0;
  });
  auto written = write_ratchet_atomic(paths_, Ratchet(root_));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(),
            "I/O error at " + file.display() + ": ratchet bytes differed immediately after atomic write");
}

}  // namespace
}  // namespace morvik::store
