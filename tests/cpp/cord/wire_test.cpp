#include <gtest/gtest.h>

#include <cstring>

#include "cord/cord.hpp"
#include "support/cord/hex.hpp"

namespace morvik::cord {
namespace {

using testing::hex;

struct LengthCase {
  std::uint64_t value;
  Width width;
  const char* expected;  // hex, or nullptr for WidthOverflow
};

TEST(WireTest, WriteLengthFitsItsWidthOrAppendsNothing) {
  const LengthCase cases[] = {
      {255, Width::U8, "FF"},
      {256, Width::U8, nullptr},
      {65535, Width::U16, "FFFF"},
      {65536, Width::U16, nullptr},
      {4294967295u, Width::U32, "FFFFFFFF"},
      {4294967296u, Width::U32, nullptr},
      {~std::uint64_t{0}, Width::U64, "FFFFFFFFFFFFFFFF"},
      {5, Width::U32, "00000005"},
  };
  for (const auto& c : cases) {
    Bytes out{0xAA};
    auto st = wire::write_length(out, c.value, c.width);
    Bytes want{0xAA};
    if (c.expected) {
      ASSERT_TRUE(st) << c.value;
      auto tail = hex(c.expected);
      want.insert(want.end(), tail.begin(), tail.end());
    } else {
      ASSERT_FALSE(st) << c.value;
      EXPECT_EQ(st.error().message(), "Value overflow for encoding width");
    }
    EXPECT_EQ(out, want) << c.value;
  }
}

TEST(WireTest, WriteVariantIndexWidths) {
  Bytes out;
  ASSERT_TRUE(wire::write_variant_index(out, 3, Width::U32));
  EXPECT_EQ(out, hex("00000003"));
  out.clear();
  ASSERT_TRUE(wire::write_variant_index(out, 3, Width::U64));
  EXPECT_EQ(out, hex("0000000000000003"));
  out.clear();
  EXPECT_EQ(wire::write_variant_index(out, 256, Width::U8).error().kind, CordErrorKind::WidthOverflow);
  EXPECT_EQ(wire::write_variant_index(out, 65536, Width::U16).error().kind, CordErrorKind::WidthOverflow);
  EXPECT_TRUE(out.empty());
}

TEST(WireTest, NormalizeNfcBorrowsUnchangedTextAndComposesTheRest) {
  auto ascii = wire::normalize_nfc("plain");
  ASSERT_TRUE(ascii);
  EXPECT_FALSE(ascii->changed());
  auto composed = wire::normalize_nfc("\xC3\xA9");  // U+00E9
  ASSERT_TRUE(composed);
  EXPECT_FALSE(composed->changed());
  auto decomposed = wire::normalize_nfc("e\xCC\x81");  // e + U+0301
  ASSERT_TRUE(decomposed);
  EXPECT_TRUE(decomposed->changed());
  EXPECT_EQ(decomposed->text(), "\xC3\xA9");
}

TEST(WireTest, NormalizeRefusesTextThatIsNotUtf8) {
  auto bad = wire::normalize_nfc("\xFF");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().message(), "Invalid UTF-8");
}

TEST(WireTest, StrictUtf8) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"abc", true},
      {"\xC3\xA9", true},
      {"\xF0\x9F\x98\x80", true},        // U+1F600
      {"\xC0\xAF", false},               // overlong '/'
      {"\xE0\x80\xAF", false},           // overlong
      {"\xED\xA0\x80", false},           // surrogate U+D800
      {"\xF4\x90\x80\x80", false},       // above U+10FFFF
      {"\xC3", false},                   // truncated
      {"\x80", false},                   // lone continuation
      {"\xE2\x82", false},               // truncated three-byte
  };
  for (const auto& c : cases) EXPECT_EQ(is_valid_utf8(c.text), c.valid) << testing::to_hex(Bytes(c.text, c.text + std::strlen(c.text)));
}

struct ReadStrCase {
  const char* input;
  std::uint64_t maximum;
  const char* expected_text;     // on success
  const char* expected_message;  // on failure
};

TEST(WireTest, ReadStrChecksInFixedOrder) {
  const ReadStrCase cases[] = {
      {"00000002 C3A9", kMaxLength, "\xC3\xA9", nullptr},
      {"00000003 65CC81", kMaxLength, nullptr, "String is not NFC normalized"},
      {"00000001 FF", kMaxLength, nullptr, "Invalid UTF-8"},
      {"00000005 6162", kMaxLength, nullptr, "Unexpected end of input"},
      // The length error comes first even when the input is also too short.
      {"01000001 61", kMaxLength, nullptr, "Cord length limit exceeded: 16777217 exceeds maximum of 16777216"},
      {"000000", kMaxLength, nullptr, "Unexpected end of input"},
      {"00000000", kMaxLength, "", nullptr},
  };
  for (const auto& c : cases) {
    Bytes input = hex(c.input);
    ByteView view(input);
    auto text = wire::read_str(view, Width::U32, c.maximum);
    if (c.expected_text) {
      ASSERT_TRUE(text) << c.input << ": " << text.error().message();
      EXPECT_EQ(*text, c.expected_text);
      EXPECT_TRUE(view.empty());
    } else {
      ASSERT_FALSE(text) << c.input;
      EXPECT_EQ(text.error().message(), c.expected_message) << c.input;
    }
  }
}

TEST(WireTest, StringAtTheLengthLimitReads) {
  Bytes input = hex("01000000");
  input.resize(input.size() + kMaxLength, 'a');
  ByteView view(input);
  auto text = wire::read_str(view, Width::U32, kMaxLength);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->size(), kMaxLength);
}

TEST(WireTest, DeserializerRawReads) {
  Bytes varint = hex("00000007");
  CordDeserializer d(varint);
  ASSERT_TRUE(d.apply_wrapper_name("__cord_varint"));
  auto length = d.parse_length();
  ASSERT_TRUE(length);
  EXPECT_EQ(*length, 7u);
  EXPECT_EQ(d.hint(), EncodingHint::None);

  CordDeserializer empty(ByteView{});
  EXPECT_EQ(empty.next().error().message(), "Unexpected end of input");

  Bytes wide = hex("0000000100000000");
  CordDeserializer d64(wide);
  ASSERT_TRUE(d64.apply_wrapper_name("__cord_width64"));
  EXPECT_EQ(d64.parse_variant_index().error().kind, CordErrorKind::WidthOverflow);
  EXPECT_TRUE(d64.remaining().empty());  // the eight bytes stay consumed

  Bytes seven = hex("0000000000000007");
  CordDeserializer d7(seven);
  ASSERT_TRUE(d7.apply_wrapper_name("__cord_width64"));
  EXPECT_EQ(*d7.parse_variant_index(), 7u);
}

TEST(WireTest, EvolvingWidthMatchesWholeNamesOnly) {
  EXPECT_EQ(evolving_width("__cord_evolving32"), Width::U32);
  EXPECT_EQ(evolving_width("__cord_evolving32_raw"), Width::U32);
  EXPECT_EQ(evolving_width("__cord_evolving16"), Width::U16);
  EXPECT_EQ(evolving_width("__cord_evolving16_raw"), Width::U16);
  EXPECT_EQ(evolving_width("__cord_evolving8"), Width::U8);
  EXPECT_EQ(evolving_width("__cord_evolving8_raw"), Width::U8);
  for (const char* name : {"__cord_set", "__cord_evolving32 ", "__CORD_EVOLVING32", "__cord_evolving64"}) {
    EXPECT_FALSE(evolving_width(name)) << name;
  }
}

TEST(WireTest, ErrorMessages) {
  struct Case {
    CordError error;
    const char* message;
  };
  const Case cases[] = {
      {CordError::with_text(CordErrorKind::Io, "disk"), "Cord encountered I/O error: disk"},
      {CordError::with_text(CordErrorKind::Unsupported, "f32"), "Cord does not support: f32"},
      {CordError::validation("Invalid option variant"), "Cord could not validate: Invalid option variant"},
      {CordError::with_text(CordErrorKind::Schema, "x"), "Cord schema error: x"},
      {CordError::of(CordErrorKind::DepthLimitExceeded), "Cord depth limit exceeded"},
      {CordError::length_limit(16777217, 16777216), "Cord length limit exceeded: 16777217 exceeds maximum of 16777216"},
      {CordError::unknown_variant(14), "Cord encountered unknown enum variant index 14"},
      {CordError::of(CordErrorKind::DuplicateMapKey), "Duplicate key in map"},
      {CordError::of(CordErrorKind::DuplicateSetElement), "Duplicate element in set"},
      {CordError::of(CordErrorKind::TrailingBytes), "Trailing bytes after deserialization"},
      {CordError::eof(3), "Unexpected end of input"},
      {CordError::of(CordErrorKind::InvalidBool), "Invalid boolean value"},
      {CordError::of(CordErrorKind::InvalidVarint), "Invalid varint encoding"},
      {CordError::of(CordErrorKind::InvalidUtf8), "Invalid UTF-8"},
      {CordError::of(CordErrorKind::NotNfc), "String is not NFC normalized"},
      {CordError::of(CordErrorKind::NanNotAllowed), "NaN is not allowed in canonical encoding"},
      {CordError::of(CordErrorKind::NegativeZeroNotAllowed), "Negative zero is not allowed in canonical encoding"},
      {CordError::of(CordErrorKind::ConflictingHints), "Conflicting encoding hints"},
      {CordError::of(CordErrorKind::WidthOverflow), "Value overflow for encoding width"},
      {CordError::custom_de("trailing bytes in evolving payload"),
       "Cord deserialization error: trailing bytes in evolving payload"},
      {CordError::custom_de(CordError::of(CordErrorKind::DuplicateSetElement)),
       "Cord deserialization error: Duplicate element in set"},
      {CordError::custom_ser(CordError::of(CordErrorKind::WidthOverflow)),
       "Cord serialization error: Value overflow for encoding width"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.error.message(), c.message);
}

}  // namespace
}  // namespace morvik::cord
