#include "cord/deserializer.hpp"

namespace morvik::cord {

Result<ByteView> CordDeserializer::read_bytes(std::uint64_t count) {
  if (count > input_.size()) return fail(CordError::eof(count));
  ByteView taken = input_.first(static_cast<std::size_t>(count));
  input_ = input_.subspan(static_cast<std::size_t>(count));
  return taken;
}

Result<std::uint64_t> CordDeserializer::parse_length(std::uint64_t maximum) {
  return wire::read_length(input_, width_of_hint(take_hint()), maximum);
}

Result<std::string_view> CordDeserializer::parse_string() {
  return wire::read_str(input_, width_of_hint(take_hint()), kMaxLength);
}

Result<std::uint32_t> CordDeserializer::parse_variant_index() {
  const Width width = width_of_hint(take_hint());
  auto value = wire::read_length(input_, width, ~std::uint64_t{0});
  if (!value) return fail(std::move(value.error()));
  if (*value > 0xFFFF'FFFFu) return fail(CordErrorKind::WidthOverflow);
  return static_cast<std::uint32_t>(*value);
}

Result<std::uint8_t> CordDeserializer::next() {
  if (input_.empty()) return fail(CordError::eof(1));
  const std::uint8_t byte = input_.front();
  input_ = input_.subspan(1);
  return byte;
}

Result<std::uint8_t> CordDeserializer::read_u8() { return next(); }

Result<std::uint32_t> CordDeserializer::read_u32() {
  auto bytes = read_bytes(4);
  if (!bytes) return fail(std::move(bytes.error()));
  std::uint32_t value = 0;
  for (std::uint8_t b : *bytes) value = (value << 8) | b;
  return value;
}

Result<std::uint64_t> CordDeserializer::read_u64() {
  auto bytes = read_bytes(8);
  if (!bytes) return fail(std::move(bytes.error()));
  std::uint64_t value = 0;
  for (std::uint8_t b : *bytes) value = (value << 8) | b;
  return value;
}

Result<std::string> CordDeserializer::read_string() {
  auto text = parse_string();
  if (!text) return fail(std::move(text.error()));
  return std::string(*text);
}

Status CordDeserializer::enter() {
  if (++depth_ > kMaxDepth) return fail(CordErrorKind::DepthLimitExceeded);
  return {};
}

Status CordDeserializer::apply_wrapper_name(std::string_view name) {
  if (auto hint = hint_of_name(name)) {
    if (hint_ != EncodingHint::None) return fail(CordError::validation(kConflictingSentinels));
    hint_ = *hint;
  }
  return {};
}

Result<ByteView> CordDeserializer::read_evolving_payload(Width width) {
  if (hint_ != EncodingHint::None) return fail(CordError::validation(kConflictingSentinels));
  auto length = wire::read_length(input_, width, kMaxLength);
  if (!length) return fail(std::move(length.error()));
  return read_bytes(*length);
}

}  // namespace morvik::cord
