// The Bech32/Bech32m codec against the published BIP 173 and BIP 350
// vectors, and the places where it departs from BIP 173 on purpose (no
// overall length limit, leftover bits dropped without a check).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/bech32.hpp"
#include "support/crypto/vectors.hpp"
#include "support/frontend/bech32_encoder.hpp"
#include "support/frontend/helpers.hpp"

namespace morvik::frontend::bech32 {
namespace {

using morvik::testing::from_hex;
using morvik::testing::Json;
using morvik::testing::read_vectors;
using morvik::testing::to_hex;
using testing::bech32_encode;
using testing::to_groups;
using testing::upper;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

cord::Bytes bytes_of(const crypto::SecretBytes& bytes) { return {bytes.begin(), bytes.end()}; }

void check_string_vectors(const char* file, Checksum expected) {
  const Json vectors = read_vectors(file);
  for (const Json& v : vectors["vectors"].array()) {
    const auto raw = from_hex(v["string_hex"].string());
    const std::string text(raw.begin(), raw.end());
    SCOPED_TRACE(text);
    const auto decoded = decode(text);
    if (std::get<bool>(v["valid"].value)) {
      ASSERT_TRUE(decoded.has_value());
      EXPECT_EQ(decoded->prefix, text.substr(0, text.rfind('1')));  // as written
      EXPECT_EQ(lower(decoded->prefix), v["hrp"].string());
      EXPECT_EQ(decoded->checksum, expected);
    } else {
      EXPECT_FALSE(decoded.has_value()) << v["reason"].string();
    }
  }
}

TEST(Bech32Codec, Bip173StringVectors) { check_string_vectors("bip173.json", Checksum::Bech32); }

TEST(Bech32Codec, Bip350StringVectors) { check_string_vectors("bip350.json", Checksum::Bech32m); }

// The witness version is the first group and the program the bytes of the
// rest: this checks the regrouping against published data.
void check_address_vectors(const char* file, bool bech32m_from_version_1) {
  const Json vectors = read_vectors(file);
  for (const Json& v : vectors["segwit_addresses"]["valid"].array()) {
    SCOPED_TRACE(v["address"].string());
    const auto decoded = decode(v["address"].string());
    ASSERT_TRUE(decoded.has_value());
    ASSERT_FALSE(decoded->data.empty());
    const std::uint8_t version = decoded->data[0];
    const auto script = from_hex(v["scriptPubKey"].string());
    EXPECT_EQ(script[0], version == 0 ? 0 : 0x50 + version);
    const cord::Bytes program(script.begin() + 2, script.end());
    EXPECT_EQ(to_hex(bytes_of(to_bytes(std::span(decoded->data).subspan(1)))), to_hex(program));
    const bool bech32m = bech32m_from_version_1 && version > 0;
    EXPECT_EQ(decoded->checksum, bech32m ? Checksum::Bech32m : Checksum::Bech32);
  }
}

TEST(Bech32Codec, Bip173AddressPrograms) { check_address_vectors("bip173.json", false); }

TEST(Bech32Codec, Bip350AddressPrograms) { check_address_vectors("bip350.json", true); }

TEST(Bech32Codec, StringsBeyondNinetyCharactersDecode) {
  cord::Bytes payload(3000);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 131 + 7);
  for (const Checksum checksum : {Checksum::Bech32, Checksum::Bech32m}) {
    for (const std::size_t size : {std::size_t{51}, std::size_t{600}, payload.size()}) {
      const std::span<const std::uint8_t> part(payload.data(), size);
      const std::string text = bech32_encode("long", to_groups(part), checksum);
      ASSERT_GT(text.size(), 90u);
      const auto decoded = decode(text);
      ASSERT_TRUE(decoded.has_value()) << size;
      EXPECT_EQ(decoded->checksum, checksum);
      EXPECT_EQ(to_hex(bytes_of(to_bytes(decoded->data))), to_hex(part));
    }
  }
}

TEST(Bech32Codec, PrefixOfOneTo83PrintableCharacters) {
  const cord::Bytes groups = {1, 2, 3};
  EXPECT_TRUE(decode(bech32_encode(std::string(83, 'x'), groups, Checksum::Bech32m)).has_value());
  EXPECT_FALSE(decode(bech32_encode(std::string(84, 'x'), groups, Checksum::Bech32m)).has_value());
  EXPECT_TRUE(decode(bech32_encode("!~", groups, Checksum::Bech32m)).has_value());
  // The separator is the last "1"; earlier ones belong to the prefix.
  const auto decoded = decode(bech32_encode("a1b1", groups, Checksum::Bech32));
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->prefix, "a1b1");
  EXPECT_EQ(bytes_of(decoded->data), groups);
}

TEST(Bech32Codec, CaseIsOneWayOrTheOther) {
  const std::string text = bech32_encode("mrvk", to_groups(from_hex("00ff10ab")), Checksum::Bech32m);
  const auto upper_case = decode(upper(text));
  ASSERT_TRUE(upper_case.has_value());
  EXPECT_EQ(upper_case->prefix, "MRVK");
  EXPECT_EQ(bytes_of(upper_case->data), bytes_of(decode(text)->data));

  std::string mixed_data = text;
  mixed_data[mixed_data.size() - 1] = static_cast<char>(std::toupper(mixed_data.back()));
  ASSERT_NE(mixed_data, text);
  EXPECT_FALSE(decode(mixed_data).has_value());
  EXPECT_FALSE(decode("Mrvk" + text.substr(4)).has_value());
}

TEST(Bech32Codec, EveryChangedCharacterIsRefused) {
  const std::string text = bech32_encode("mrvk", to_groups(from_hex("0011223344556677")), Checksum::Bech32m);
  const std::string alphabet = "qpzry9x8gf2tvdw0s3jn54khce6mua7l";
  for (std::size_t at = 5; at < text.size(); ++at) {
    for (char c : alphabet) {
      if (c == text[at]) continue;
      std::string changed = text;
      changed[at] = c;
      EXPECT_FALSE(decode(changed).has_value()) << changed;
    }
  }
}

TEST(Bech32Codec, RefusesMalformedShapes) {
  const std::string good = bech32_encode("ab", {}, Checksum::Bech32m);
  ASSERT_TRUE(decode(good).has_value());
  EXPECT_TRUE(decode(good)->data.empty());
  const std::string cases[] = {
      "",
      good.substr(0, good.size() - 1),   // five checksum characters
      good.substr(0, 2) + good.substr(3), // no separator
      "ab 1" + good.substr(3),           // space in the prefix
      good + "b",                        // "b" is not in the alphabet
      good.substr(0, 3) + "i" + good.substr(4),
      good.substr(0, 3) + "o" + good.substr(4),
      std::string("\xc3\xa9") + good,    // non-ASCII prefix
  };
  for (const auto& text : cases) EXPECT_FALSE(decode(text).has_value()) << text;
}

TEST(Bech32Codec, ToBytesDropsLeftoverBitsWhateverTheirValue) {
  struct Case {
    cord::Bytes groups;
    std::string hex;
  };
  const Case cases[] = {
      {{}, ""},
      {{31}, ""},
      {{31, 31}, "ff"},            // two leftover bits set
      {{0, 0}, "00"},
      {{31, 31, 31, 31}, "ffff"},  // four leftover bits set
      {{1, 2, 3, 4, 5, 6, 7, 8}, "08864298e8"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_hex(bytes_of(to_bytes(c.groups))), c.hex);
}

}  // namespace
}  // namespace morvik::frontend::bech32
