// The plaintext envelope: what is written, and how an opened plaintext is
// read: current form, reserved prefix, and the two forms without a head.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ops/envelope.hpp"
#include "support/core/allocation_probe.hpp"
#include "support/ops/secrets_vault.hpp"

namespace morvik::testing {
namespace {

using ops::EnvelopeContent;

core::SecretValueV1 value_with_two_fields() {
  core::SecretValueV1 value = core::SecretValueV1::from_primary(bytes_of("pw"));
  value.fields.insert({"user", secret_bytes_of("admin")});
  value.fields.insert({"host", secret_bytes_of("db.internal")});
  return value;
}

cord::Bytes encoding_of(const core::SecretValueV1& value) { return cord::serialize(value).value(); }

cord::Bytes concat(std::string_view head, const cord::Bytes& tail) {
  cord::Bytes out = bytes_of(head);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

cord::Bytes with_byte(cord::Bytes bytes, std::uint8_t extra) {
  bytes.push_back(extra);
  return bytes;
}

const std::string kHead("morvik-secret-v1\0", 17);

TEST(EnvelopeTest, WritesTheHeadThenTheEncoding) {
  const auto value = value_with_two_fields();
  const auto envelope = ops::envelope_plaintext(value).value();
  EXPECT_EQ(cord::Bytes(envelope.begin(), envelope.end()), concat(kHead, encoding_of(value)));
}

// Encoding a value grows and drops buffers that each hold part of it; none
// may go back to the allocator unwiped. Plain encoding, which leaves such
// copies behind, shows that the watch finds them.
TEST(EnvelopeTest, NoCopyOfTheValueIsFreedUnwiped) {
  const std::string marker = "a secret marker!";
  std::string primary;
  for (int i = 0; i < 256; ++i) primary += marker;
  core::SecretValueV1 value = core::SecretValueV1::from_primary(bytes_of(primary));
  value.fields.insert({"token", secret_bytes_of(primary)});
  const cord::Bytes marker_bytes = bytes_of(marker);
  {
    FreedBlockWatch watch(marker_bytes);
    (void)encoding_of(value);
    EXPECT_GT(watch.blocks_with_marker(), 0u);
  }
  auto envelope = ops::envelope_plaintext(value).value();
  {
    FreedBlockWatch watch(marker_bytes);
    (void)ops::envelope_plaintext(value).value();
    EXPECT_EQ(watch.blocks_with_marker(), 0u);
  }
  // Nor when an opened plaintext is read back.
  FreedBlockWatch watch(marker_bytes);
  (void)ops::classify_plaintext(std::move(envelope)).value();
  EXPECT_EQ(watch.blocks_with_marker(), 0u);
}

// What classification must give: a value, the raw bytes, or a refusal.
struct Case {
  const char* name;
  cord::Bytes plaintext;
  std::optional<EnvelopeContent> expected;  // none: InvalidEnvelope
};

EnvelopeContent raw(const cord::Bytes& bytes) { return crypto::SecretBytes(bytes.begin(), bytes.end()); }

TEST(EnvelopeTest, ClassifiesOpenedPlaintexts) {
  const auto value = value_with_two_fields();
  const auto encoded = encoding_of(value);
  const auto empty_value = encoding_of(core::SecretValueV1{});
  const Case cases[] = {
      {"current form", concat(kHead, encoded), value},
      {"current form of an empty value", concat(kHead, empty_value), core::SecretValueV1{}},
      {"head alone", bytes_of(kHead), std::nullopt},
      {"magic without its zero byte", bytes_of("morvik-secret-v1"), std::nullopt},
      {"magic followed by a non-zero byte", concat(std::string("morvik-secret-v1\x01", 17), encoded), std::nullopt},
      {"other version in byte 15", concat(std::string("morvik-secret-v2\0", 17), encoded), std::nullopt},
      {"reserved prefix alone", bytes_of("morvik-secret-"), std::nullopt},
      {"reserved prefix with other text", bytes_of("morvik-secret-xyz"), std::nullopt},
      {"current form with a trailing byte", with_byte(concat(kHead, encoded), 0), std::nullopt},
      {"current form with a broken value", concat(kHead, bytes_of("not an encoding")), std::nullopt},
      {"prefix short of its dash", bytes_of("morvik-secret"), raw(bytes_of("morvik-secret"))},
      {"plain letters", bytes_of("hello"), raw(bytes_of("hello"))},
      {"nothing at all", {}, raw({})},
      {"bare encoding with two fields", encoded, value},
      {"bare encoding with a trailing byte", with_byte(encoded, 0), raw(with_byte(encoded, 0))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto classified = ops::classify_plaintext(crypto::SecretBytes(c.plaintext.begin(), c.plaintext.end()));
    if (!c.expected) {
      ASSERT_FALSE(classified.has_value());
      EXPECT_EQ(classified.error().message(), "authenticated secret plaintext has an invalid or unsupported envelope");
    } else {
      ASSERT_TRUE(classified.has_value()) << classified.error().message();
      EXPECT_EQ(*classified, *c.expected);
    }
  }
}

}  // namespace
}  // namespace morvik::testing
