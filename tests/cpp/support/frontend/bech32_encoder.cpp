#include "support/frontend/bech32_encoder.hpp"

#include <cctype>

namespace morvik::frontend::testing {
namespace {

constexpr std::string_view kAlphabet = "qpzry9x8gf2tvdw0s3jn54khce6mua7l";

std::uint32_t polymod(const cord::Bytes& values) {
  static constexpr std::uint32_t kGenerator[] = {0x3b6a57b2, 0x26508e6d, 0x1ea119fa, 0x3d4233dd, 0x2a1462b3};
  std::uint32_t check = 1;
  for (std::uint8_t value : values) {
    const std::uint32_t top = check >> 25;
    check = ((check & 0x1ffffff) << 5) ^ value;
    for (int i = 0; i < 5; ++i) check ^= ((top >> i) & 1) ? kGenerator[i] : 0;
  }
  return check;
}

}  // namespace

cord::Bytes to_groups(cord::ByteView bytes) {
  cord::Bytes groups;
  std::uint32_t buffer = 0;
  int bits = 0;
  for (std::uint8_t byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 5) {
      bits -= 5;
      groups.push_back(static_cast<std::uint8_t>((buffer >> bits) & 31));
    }
  }
  if (bits > 0) groups.push_back(static_cast<std::uint8_t>((buffer << (5 - bits)) & 31));
  return groups;
}

std::string bech32_encode(std::string_view prefix, std::span<const std::uint8_t> groups, bech32::Checksum checksum) {
  cord::Bytes values;
  for (char c : prefix) values.push_back(static_cast<std::uint8_t>(std::tolower(static_cast<unsigned char>(c))) >> 5);
  values.push_back(0);
  for (char c : prefix) values.push_back(static_cast<std::uint8_t>(std::tolower(static_cast<unsigned char>(c))) & 31);
  values.insert(values.end(), groups.begin(), groups.end());
  values.insert(values.end(), 6, 0);
  const std::uint32_t constant = checksum == bech32::Checksum::Bech32m ? 0x2bc830a3 : 1;
  const std::uint32_t remainder = polymod(values) ^ constant;

  std::string text(prefix);
  text += '1';
  for (std::uint8_t group : groups) text += kAlphabet[group];
  for (int i = 0; i < 6; ++i) text += kAlphabet[(remainder >> (5 * (5 - i))) & 31];
  return text;
}

std::string invite_text(cord::ByteView payload, bech32::Checksum checksum, std::string_view prefix) {
  return bech32_encode(prefix, to_groups(payload), checksum);
}

}  // namespace morvik::frontend::testing
