#include <gtest/gtest.h>

#include "core/vault_file/vault_file.hpp"
#include "support/core/allocation_probe.hpp"
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

std::string decode_error(cord::ByteView file) {
  auto decoded = decode_vault(file);
  return decoded ? "" : decoded.error().message();
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
  vault_records(*decoded).insert(VaultRecordV1{cord::UnknownPayload{{0, 0, 0, 13}}, {}, {}});
  auto encoded = encode_vault(*decoded);
  ASSERT_FALSE(encoded);
  EXPECT_EQ(encoded.error().message(), over);
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
