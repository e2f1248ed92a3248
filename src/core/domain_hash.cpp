#include "core/domain_hash.hpp"

#include <sodium.h>

#include <array>

namespace morvik::core {
namespace {

std::array<std::uint8_t, 8> be64(std::uint64_t value) {
  std::array<std::uint8_t, 8> out{};
  for (int i = 7; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
    value >>= 8;
  }
  return out;
}

void update_transcript(crypto_hash_sha256_state& state, cord::ByteView piece) {
  const auto length = be64(piece.size());
  crypto_hash_sha256_update(&state, length.data(), length.size());
  crypto_hash_sha256_update(&state, piece.data(), piece.size());
}

}  // namespace

cord::ByteView text_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void append_length_prefixed(cord::Bytes& out, cord::ByteView piece) {
  const auto length = be64(piece.size());
  out.insert(out.end(), length.begin(), length.end());
  out.insert(out.end(), piece.begin(), piece.end());
}

HashValue domain_hash(std::string_view domain, cord::ByteView data) {
  crypto_hash_sha256_state state;
  crypto_hash_sha256_init(&state);
  update_transcript(state, text_bytes(kHashLabel));
  update_transcript(state, text_bytes(domain));
  update_transcript(state, data);
  HashValue result{cord::Bytes(crypto_hash_sha256_BYTES)};
  crypto_hash_sha256_final(&state, result.bytes.data());
  return result;
}

cord::Bytes signature_transcript(std::string_view domain, cord::ByteView message) {
  cord::Bytes out;
  out.reserve(3 * 8 + kSignatureLabel.size() + domain.size() + message.size());
  append_length_prefixed(out, text_bytes(kSignatureLabel));
  append_length_prefixed(out, text_bytes(domain));
  append_length_prefixed(out, message);
  return out;
}

}  // namespace morvik::core
