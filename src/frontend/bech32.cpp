#include "frontend/bech32.hpp"

#include <array>

namespace morvik::frontend::bech32 {
namespace {

constexpr std::string_view kAlphabet = "qpzry9x8gf2tvdw0s3jn54khce6mua7l";
constexpr std::uint32_t kBech32Constant = 1;
constexpr std::uint32_t kBech32mConstant = 0x2bc830a3;
constexpr std::size_t kChecksumLength = 6;
constexpr std::size_t kMaxPrefixLength = 83;

// The value of each lowercase alphabet character; -1 for every other byte.
constexpr std::array<std::int8_t, 256> kValues = [] {
  std::array<std::int8_t, 256> values{};
  values.fill(-1);
  for (std::size_t i = 0; i < kAlphabet.size(); ++i) values[static_cast<std::uint8_t>(kAlphabet[i])] = std::int8_t(i);
  return values;
}();

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
char to_lower(char c) { return is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c; }

// The BCH code's remainder, fed one 5-bit value at a time.
class Polymod {
 public:
  void feed(std::uint8_t value) {
    const std::uint32_t top = state_ >> 25;
    state_ = ((state_ & 0x1ffffff) << 5) ^ value;
    static constexpr std::uint32_t kGenerator[] = {0x3b6a57b2, 0x26508e6d, 0x1ea119fa, 0x3d4233dd, 0x2a1462b3};
    for (int i = 0; i < 5; ++i) {
      if ((top >> i) & 1) state_ ^= kGenerator[i];
    }
  }
  std::uint32_t value() const { return state_; }

 private:
  std::uint32_t state_ = 1;
};

}  // namespace

std::optional<Decoded> decode(std::string_view text) {
  const std::size_t separator = text.rfind('1');
  if (separator == std::string_view::npos) return std::nullopt;
  const std::string_view prefix = text.substr(0, separator);
  const std::string_view data = text.substr(separator + 1);
  if (prefix.empty() || prefix.size() > kMaxPrefixLength || data.size() < kChecksumLength) return std::nullopt;

  bool upper = false;
  bool lower = false;
  for (char c : text) {
    upper = upper || is_upper(c);
    lower = lower || is_lower(c);
  }
  if (upper && lower) return std::nullopt;

  Polymod checksum;
  for (char c : prefix) {
    if (c < 33 || c > 126) return std::nullopt;
    checksum.feed(static_cast<std::uint8_t>(to_lower(c)) >> 5);
  }
  checksum.feed(0);
  for (char c : prefix) checksum.feed(static_cast<std::uint8_t>(to_lower(c)) & 31);

  Decoded decoded{std::string(prefix), {}, Checksum::Bech32m};
  decoded.data.reserve(data.size());
  for (char c : data) {
    const std::int8_t value = kValues[static_cast<std::uint8_t>(to_lower(c))];
    if (value < 0) return std::nullopt;
    checksum.feed(static_cast<std::uint8_t>(value));
    decoded.data.push_back(static_cast<std::uint8_t>(value));
  }
  // No string satisfies both constants.
  if (checksum.value() == kBech32mConstant) {
    decoded.checksum = Checksum::Bech32m;
  } else if (checksum.value() == kBech32Constant) {
    decoded.checksum = Checksum::Bech32;
  } else {
    return std::nullopt;
  }
  decoded.data.resize(decoded.data.size() - kChecksumLength);
  return decoded;
}

crypto::SecretBytes to_bytes(std::span<const std::uint8_t> groups) {
  crypto::SecretBytes bytes;
  bytes.reserve(groups.size() * 5 / 8);
  std::uint32_t buffer = 0;
  int bits = 0;
  for (std::uint8_t group : groups) {
    buffer = ((buffer << 5) | (group & 31)) & 0xfff;
    bits += 5;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<std::uint8_t>(buffer >> bits));
    }
  }
  return bytes;
}

}  // namespace morvik::frontend::bech32
