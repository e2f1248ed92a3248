#include "core/domain_hash.hpp"

#include <array>

#include "core/sha256.hpp"

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
  const auto label_length = be64(kHashLabel.size());
  const auto domain_length = be64(domain.size());
  const auto data_length = be64(data.size());
  const std::array<cord::ByteView, 6> pieces{
      label_length, text_bytes(kHashLabel), domain_length, text_bytes(domain), data_length, data};
  const Sha256Digest digest = sha256(pieces);
  return HashValue{cord::Bytes(digest.begin(), digest.end())};
}

cord::Bytes signature_transcript(std::string_view domain, cord::ByteView message) {
  cord::Bytes out;
  out.reserve(signature_transcript_head_size(domain) + message.size());
  append_length_prefixed(out, text_bytes(kSignatureLabel));
  append_length_prefixed(out, text_bytes(domain));
  append_length_prefixed(out, message);
  return out;
}

std::size_t signature_transcript_head_size(std::string_view domain) {
  return 3 * 8 + kSignatureLabel.size() + domain.size();
}

cord::Bytes signature_transcript(std::string_view domain, cord::Bytes&& message) {
  const std::size_t head_size = signature_transcript_head_size(domain);
  // Growing the buffer would hold the message twice after all.
  if (message.capacity() - message.size() < head_size) return signature_transcript(domain, cord::ByteView(message));
  cord::Bytes head;
  head.reserve(head_size);
  append_length_prefixed(head, text_bytes(kSignatureLabel));
  append_length_prefixed(head, text_bytes(domain));
  const auto length = be64(message.size());
  head.insert(head.end(), length.begin(), length.end());
  message.insert(message.begin(), head.begin(), head.end());
  return std::move(message);
}

}  // namespace morvik::core
