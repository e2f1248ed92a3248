#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/vault_file/vault_file.hpp"
#include "support/core/allocation_probe.hpp"
#include "support/core/selectors.hpp"
#include "support/core/vault_factory.hpp"

namespace morvik::core::validate {
namespace {

using namespace morvik::testing;

const char* kMissingMagic = "validation failed: not a morvik vault file (missing magic prefix)";

cord::Bytes magic() { return cord::Bytes(kVaultMagic.begin(), kVaultMagic.end()); }

void append_u32(cord::Bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// A vault file of `count` of the smallest records there are, in canonical
// order: 16 bytes each, a body of unknown kind (a variant index of 14 or
// more), no key, no signature. `last` replaces the index of the last record.
cord::Bytes tiny_records_file(std::uint32_t count, std::optional<std::uint32_t> last = std::nullopt) {
  cord::Bytes file = magic();
  file.reserve(file.size() + 8 + std::size_t{16} * count);
  append_u32(file, 0);
  append_u32(file, count);
  for (std::uint32_t i = 0; i < count; ++i) {
    append_u32(file, 4);
    append_u32(file, i + 1 == count && last ? *last : 14 + i);
    append_u32(file, 0);
    append_u32(file, 0);
  }
  return file;
}

// Whether the set holds its records in the order VaultStore holds them,
// which validation walks.
bool in_value_order(const RecordSet& set) {
  return std::is_sorted(set.records().begin(), set.records().end(),
                        [](const HeldRecord& a, const HeldRecord& b) { return *a.record < *b.record; });
}

template <class Result>
std::string error_of(const Result& result) {
  return result ? "" : result.error().message();
}

// The error of decoding the file, which every reader of a vault file must
// agree on: those that keep the records with their bytes, only the roots,
// or nothing at all.
std::string decode_error(cord::ByteView file) {
  const std::string error = error_of(decode_vault(file));
  EXPECT_EQ(error_of(decode_vault_records(cord::Bytes(file.begin(), file.end()))), error);
  EXPECT_EQ(error_of(decode_vault_roots(file)), error);
  EXPECT_EQ(error_of(check_vault_file(file)), error);
  return error;
}

TEST(VaultFileTest, MagicComesFirst) {
  const std::string without_zero = "morvik-vault";
  const std::string other = "morvik-vaulT";
  const cord::Bytes cases[] = {
      {},
      cord::Bytes(without_zero.begin(), without_zero.end()),
      [&] {
        cord::Bytes b(without_zero.begin(), without_zero.end());
        b.resize(30, 1);
        return b;
      }(),
      [&] {
        cord::Bytes b(other.begin(), other.end());
        b.resize(30, 0);
        return b;
      }(),
      [] {
        cord::Bytes b = magic();
        b[12] = 1;
        b.resize(30, 0);
        return b;
      }(),
  };
  for (const auto& file : cases) EXPECT_EQ(decode_error(file), kMissingMagic) << file.size();
}

TEST(VaultFileTest, MagicAloneFailsInTheDecoding) {
  EXPECT_EQ(decode_error(magic()), "cord error: Unexpected end of input");
}

TEST(VaultFileTest, SizeLimitIncludesTheMagic) {
  cord::Bytes file(kMaxVaultFileBytes + 1, 0);
  // Without the magic, that is what is reported, whatever the size.
  EXPECT_EQ(decode_error(file), kMissingMagic);
  std::copy(kVaultMagic.begin(), kVaultMagic.end(), file.begin());
  EXPECT_EQ(decode_error(file), "validation failed: vault is 268435457 bytes, above the supported maximum of 268435456");
  // At the limit the size passes: an empty store and then trailing zeros.
  file.pop_back();
  EXPECT_EQ(decode_error(file), "cord error: Trailing bytes after deserialization");
}

TEST(VaultFileTest, CanonicalDecodingFailures) {
  cord::Bytes other_variant = magic();
  append_u32(other_variant, 1);
  append_u32(other_variant, 0);
  EXPECT_EQ(decode_error(other_variant), "cord error: Cord encountered unknown enum variant index 1");

  cord::Bytes trailing = tiny_records_file(2);
  trailing.push_back(0);
  EXPECT_EQ(decode_error(trailing), "cord error: Trailing bytes after deserialization");

  EXPECT_EQ(decode_error(tiny_records_file(3, 15)),
            "cord error: Cord deserialization error: Duplicate element in set");
}

TEST(VaultFileTest, RecordLimitInBothDirections) {
  const cord::Bytes at_limit = tiny_records_file(kMaxVaultRecords);
  auto decoded = decode_vault(at_limit);
  ASSERT_TRUE(decoded) << decoded.error().message();
  EXPECT_EQ(vault_records(*decoded).size(), kMaxVaultRecords);
  EXPECT_EQ(encode_vault(*decoded), at_limit);

  const char* over = "validation failed: vault carries 262145 records, above the supported maximum of 262144";
  EXPECT_EQ(decode_error(tiny_records_file(kMaxVaultRecords + 1)), over);
  const VaultRecordV1 one_more{cord::UnknownPayload{{0, 0, 0, 13}}, {}, {}};
  vault_records(*decoded).insert(one_more);
  auto encoded = encode_vault(*decoded);
  ASSERT_FALSE(encoded);
  EXPECT_EQ(encoded.error().message(), over);

  auto records = decode_vault_records(at_limit).value();
  records.append_record(one_more, cord::serialize(one_more).value(), HashValue{});
  auto spliced = encode_vault_records(records);
  ASSERT_FALSE(spliced);
  EXPECT_EQ(spliced.error().message(), over);
}

TEST(VaultFileTest, OversizedSetStillReportsAMalformedRecordFirst) {
  EXPECT_EQ(decode_error(tiny_records_file(kMaxVaultRecords + 1, 14)),
            "cord error: Cord deserialization error: Duplicate element in set");
}

TEST(VaultFileTest, EncodingIsCanonical) {
  EXPECT_EQ(encode_vault(VaultStore{}), [] {
    cord::Bytes empty = magic();
    empty.resize(empty.size() + 8, 0);
    return empty;
  }());

  TestVault vault;
  vault.add_user(2, 1);
  vault.add_user(3, 2);
  vault.add(vault.root(), unknown_kind_body());
  auto file = encode_vault(vault.store());
  ASSERT_TRUE(file);
  auto decoded = decode_vault(*file);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, vault.store());
  EXPECT_EQ(encode_vault(*decoded), file);
}

TEST(VaultFileTest, ReadersThatKeepLessKeepTheRightPart) {
  TestVault vault;
  vault.add_user(2, 1);
  vault.add(vault.root(), unknown_kind_body());
  // A second root record, of another key: roots are kept whoever signed them.
  vault.add(identity(9), vault_root_body(identity(9)));
  const cord::Bytes file = encode_vault(vault.store()).value();

  auto decoded = decode_vault_records(file);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->store(), vault.store());
  EXPECT_TRUE(in_value_order(*decoded));
  const cord::Bytes& shared = *decoded->file();
  for (std::size_t i = 0; i < decoded->size(); ++i) {
    const auto& held = decoded->records()[i];
    EXPECT_EQ(cord::Bytes(held.encoding.begin(), held.encoding.end()), cord::serialize(*held.record).value());
    EXPECT_TRUE(decoded->read_from_file(held));
    EXPECT_LE(held.encoding.data() + held.encoding.size(), shared.data() + shared.size());
    EXPECT_FALSE(decoded->hash(i));
  }

  VaultStore roots;
  for (const auto& record : vault_records(vault.store())) {
    const auto* body = record.body.known();
    if (body && std::holds_alternative<VaultRootRecordV1>(*body)) vault_records(roots).insert(record);
  }
  EXPECT_EQ(vault_records(roots).size(), 2u);
  EXPECT_EQ(decode_vault_roots(file), roots);
  EXPECT_TRUE(check_vault_file(file));
}

// The file after a write is the old file with the added records spliced in:
// byte for byte what encoding the whole set gives, and the set afterwards
// views that file alone.
TEST(VaultFileTest, AddedRecordsAreSplicedInWhereEncodingPutsThem) {
  TestVault filled;
  const auto& alice = filled.add_user(2, 1);
  const auto readers = std::vector<UserId>{alice.user_id};
  for (int i = 0; i < 40; ++i) {
    filled.add(alice, secret_body(secret({"app", "s" + std::to_string(i)}), payload_for(readers), 2 + i % 5));
  }
  const VaultStore& base = filled.store();
  auto secret_record = [&](const std::string& name, std::uint64_t counter) {
    return sign(alice, secret_body(secret({"app", name}), payload_for(readers), counter));
  };
  // The shortest bodies sort first, the longest last.
  const VaultRecordV1 tiny{cord::UnknownPayload{{0, 0, 0, 99}}, {}, {}};
  const VaultRecordV1 long_handle = sign(filled.root(), vault_handle_body(std::string(5000, 'h'), 3));
  std::vector<VaultRecordV1> many;
  for (int i = 0; i < 60; ++i) many.push_back(secret_record("new" + std::to_string(i), 9));
  many.push_back(tiny);
  many.push_back(long_handle);
  many.push_back(many.front());

  const auto before_all = [](const cord::Bytes& e, const cord::Bytes& first, const cord::Bytes&) {
    return cord::encoding_less(e, first);
  };
  const auto after_all = [](const cord::Bytes& e, const cord::Bytes&, const cord::Bytes& last) {
    return cord::encoding_less(last, e);
  };
  const auto between = [](const cord::Bytes& e, const cord::Bytes& first, const cord::Bytes& last) {
    return cord::encoding_less(first, e) && cord::encoding_less(e, last);
  };
  using Place = std::function<bool(const cord::Bytes&, const cord::Bytes&, const cord::Bytes&)>;
  struct Case {
    const char* name;
    VaultStore base;
    std::vector<VaultRecordV1> added;
    // Where the first added record falls among the base's encodings; none
    // when the base is empty or nothing is added.
    Place place;
  };
  const Case cases[] = {
      {"nothing added", base, {}, {}},
      {"into an empty vault", VaultStore{}, {secret_record("only", 2)}, {}},
      {"first", base, {tiny}, before_all},
      {"last", base, {long_handle}, after_all},
      {"among the others", base, {secret_record("m", 4)}, between},
      {"a later value of a secret held", base, {secret_record("s7", 30)}, between},
      {"a record already held", base, {*vault_records(base).begin()}, {}},
      {"many at once, in no order", base, many, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const cord::Bytes file = encode_vault(c.base).value();
    auto records = decode_vault_records(file).value();
    VaultStore expected_store = c.base;
    for (const VaultRecordV1& record : c.added) {
      cord::Bytes encoding = cord::serialize(record).value();
      if (c.place) {
        std::vector<cord::Bytes> held;
        for (const auto& h : records.records()) held.emplace_back(h.encoding.begin(), h.encoding.end());
        std::sort(held.begin(), held.end(), cord::encoding_less);
        EXPECT_TRUE(c.place(encoding, held.front(), held.back()));
      }
      const HashValue hash = kCrypto.hash(kRecordHashLabel, encoding);
      const bool new_to_the_set = vault_records(expected_store).insert(record);
      EXPECT_EQ(records.append_record(record, std::move(encoding), hash), !new_to_the_set);
    }
    const cord::Bytes expected = encode_vault(expected_store).value();
    EXPECT_TRUE(in_value_order(records));
    // A hash is known for each added record and for no record only decoded,
    // each beside its own record.
    for (std::size_t i = 0; i < records.size(); ++i) {
      const auto& held = records.records()[i];
      ASSERT_EQ(records.hash(i).has_value(), !records.read_from_file(held));
      if (records.hash(i)) {
        EXPECT_EQ(RecordSet::hash_of(*records.hash(i)), kCrypto.hash(kRecordHashLabel, held.encoding));
      }
    }

    // The same records added in one batch to a set whose hashes are all
    // known: the same file, and every hash still beside its record.
    auto batch = decode_vault_records(file).value();
    ASSERT_TRUE(batch.hash_records(kCrypto));
    std::vector<AddedRecord> added;
    for (const VaultRecordV1& record : c.added) {
      cord::Bytes encoding = cord::serialize(record).value();
      HashValue hash = kCrypto.hash(kRecordHashLabel, encoding);
      added.push_back(AddedRecord{record, std::move(encoding), std::move(hash)});
    }
    const std::size_t new_records = vault_records(expected_store).size() - vault_records(c.base).size();
    EXPECT_EQ(batch.append_records(std::move(added)), c.added.size() - new_records);
    EXPECT_EQ(batch.store(), expected_store);
    EXPECT_TRUE(in_value_order(batch));
    for (std::size_t i = 0; i < batch.size(); ++i) {
      ASSERT_TRUE(batch.hash(i));
      EXPECT_EQ(RecordSet::hash_of(*batch.hash(i)), kCrypto.hash(kRecordHashLabel, batch.records()[i].encoding));
    }
    EXPECT_EQ(*encode_vault_records(batch).value().bytes, expected);

    auto spliced = encode_vault_records(records);
    ASSERT_TRUE(spliced) << spliced.error().message();
    EXPECT_EQ(*spliced->bytes, expected);
    EXPECT_EQ(spliced->records.file(), spliced->bytes);
    EXPECT_EQ(spliced->records.store(), expected_store);
    for (const auto& held : spliced->records.records()) {
      EXPECT_TRUE(spliced->records.read_from_file(held));
      EXPECT_EQ(cord::Bytes(held.encoding.begin(), held.encoding.end()), cord::serialize(*held.record).value());
    }
    // Written again from there, and from records that no file holds.
    EXPECT_EQ(*encode_vault_records(spliced->records).value().bytes, expected);
    EXPECT_EQ(*encode_vault_records(RecordSet::of(expected_store).value()).value().bytes, expected);
  }
}

// Decoded, a 16-byte record takes some 300 bytes: a set of them beyond the
// record limit would cost many times the file it came from.
TEST(VaultFileTest, ManyTinyRecordsDoNotInflateMemory) {
  const cord::Bytes file = tiny_records_file(kMaxVaultRecords + 1);
  AllocationProbe probe;
  EXPECT_EQ(decode_error(file),
            "validation failed: vault carries 262145 records, above the supported maximum of 262144");
  EXPECT_LE(probe.peak_bytes(), 2 * file.size());
}

// A sequence's count is only a claim: what is reserved for it is bounded by
// the bytes that follow, not only by a fixed cap.
TEST(VaultFileTest, ACountBeyondTheInputReservesNothingLarge) {
  cord::Bytes input;
  append_u32(input, 16'777'216);
  input.insert(input.end(), {1, 2, 3});
  AllocationProbe probe;
  EXPECT_FALSE(cord::deserialize<std::vector<VaultRecordV1>>(input));
  EXPECT_LE(probe.peak_bytes(), 8 * sizeof(VaultRecordV1));
}

}  // namespace
}  // namespace morvik::core::validate
