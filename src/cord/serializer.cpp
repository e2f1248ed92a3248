#include "cord/serializer.hpp"

namespace morvik::cord {
namespace {

void append_be(Bytes& out, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = bytes; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

Status CordSerializer::write_u8(std::uint8_t value) const {
  output_->push_back(value);
  return {};
}

Status CordSerializer::write_u32(std::uint32_t value) const {
  append_be(*output_, value, 4);
  return {};
}

Status CordSerializer::write_u64(std::uint64_t value) const {
  append_be(*output_, value, 8);
  return {};
}

Status CordSerializer::write_string(std::string_view text) const {
  auto normalized = wire::normalize_nfc(text);
  if (!normalized) return fail(std::move(normalized.error()));
  const std::string_view nfc = normalized->text();
  if (auto st = wire::write_length(*output_, nfc.size(), width_of_hint(hint_)); !st) return st;
  output_->insert(output_->end(), nfc.begin(), nfc.end());
  return {};
}

Status CordSerializer::write_bytes(ByteView bytes) const {
  if (auto st = write_count(bytes.size()); !st) return st;
  output_->insert(output_->end(), bytes.begin(), bytes.end());
  return {};
}

Status CordSerializer::write_count(std::uint64_t count) const {
  return wire::write_length(*output_, count, width_of_hint(hint_));
}

Status CordSerializer::write_variant_index(std::uint32_t index) const {
  return wire::write_variant_index(*output_, index, width_of_hint(hint_));
}

void CordSerializer::write_raw(ByteView bytes) const {
  output_->insert(output_->end(), bytes.begin(), bytes.end());
}

}  // namespace morvik::cord
