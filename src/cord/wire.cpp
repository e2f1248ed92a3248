#include "cord/wire.hpp"

#include <cstdlib>
#include <memory>
#include <utf8proc.h>

namespace morvik::cord {

std::optional<Width> evolving_width(std::string_view name) {
  // The length rules out most names before any byte is compared.
  switch (name.size()) {
    case 16:
      if (name == "__cord_evolving8") return Width::U8;
      break;
    case 17:
      if (name == "__cord_evolving16") return Width::U16;
      if (name == "__cord_evolving32") return Width::U32;
      break;
    case 20:
      if (name == "__cord_evolving8_raw") return Width::U8;
      break;
    case 21:
      if (name == "__cord_evolving16_raw") return Width::U16;
      if (name == "__cord_evolving32_raw") return Width::U32;
      break;
    default: break;
  }
  return std::nullopt;
}

std::optional<EncodingHint> hint_of_name(std::string_view name) {
  switch (name.size()) {
    case 13:
      if (name == "__cord_varint") return EncodingHint::Varint;
      if (name == "__cord_width8") return EncodingHint::Width8;
      break;
    case 14:
      if (name == "__cord_width16") return EncodingHint::Width16;
      if (name == "__cord_width64") return EncodingHint::Width64;
      break;
    default: break;
  }
  return std::nullopt;
}

namespace {

bool all_ascii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

struct FreeDeleter {
  void operator()(utf8proc_uint8_t* p) const { std::free(p); }
};

// NFC composition of valid UTF-8.
std::string compose(std::string_view text) {
  utf8proc_uint8_t* raw = nullptr;
  const auto n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                              static_cast<utf8proc_ssize_t>(text.size()), &raw,
                              static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owned(raw);
  if (n < 0) return std::string(text);  // only on allocation failure, since the input is valid
  return std::string(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(n));
}

void append_be(Bytes& out, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = bytes; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t max_of(Width w) {
  switch (w) {
    case Width::U8: return 0xFF;
    case Width::U16: return 0xFFFF;
    case Width::U32: return 0xFFFF'FFFF;
    case Width::U64: return ~std::uint64_t{0};
  }
  return 0;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) { ++i; continue; }
    std::size_t len;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
    else return false;
    if (n - i < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return false;
    if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return false;
    i += len;
  }
  return true;
}

bool is_nfc(std::string_view text) {
  return all_ascii(text) || compose(text) == text;
}

namespace wire {

Status write_length(Bytes& out, std::uint64_t value, Width width) {
  if (value > max_of(width)) return fail(CordErrorKind::WidthOverflow);
  append_be(out, value, byte_count(width));
  return {};
}

Status write_length_at(Bytes& out, std::size_t at, std::uint64_t value, Width width) {
  if (value > max_of(width)) return fail(CordErrorKind::WidthOverflow);
  for (std::size_t i = byte_count(width); i-- > 0; value >>= 8) out[at + i] = static_cast<std::uint8_t>(value);
  return {};
}

Status write_variant_index(Bytes& out, std::uint32_t index, Width width) {
  if (width == Width::U64) {
    append_be(out, index, 8);
    return {};
  }
  return write_length(out, index, width);
}

Result<NfcText> normalize_nfc(std::string_view text) {
  if (all_ascii(text)) return NfcText(text);
  if (!is_valid_utf8(text)) return fail(CordErrorKind::InvalidUtf8);
  std::string composed = compose(text);
  if (composed == text) return NfcText(text);
  return NfcText(std::move(composed));
}

Result<std::uint64_t> read_length(ByteView& input, Width width, std::uint64_t maximum) {
  const std::size_t n = byte_count(width);
  if (input.size() < n) return fail(CordError::eof(n));
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < n; ++i) value = (value << 8) | input[i];
  input = input.subspan(n);
  if (value > maximum) return fail(CordError::length_limit(value, maximum));
  return value;
}

Result<std::string_view> read_str(ByteView& input, Width width, std::uint64_t maximum) {
  auto length = read_length(input, width, maximum);
  if (!length) return fail(std::move(length.error()));
  if (*length > input.size()) return fail(CordError::eof(*length));
  const std::string_view text(reinterpret_cast<const char*>(input.data()), static_cast<std::size_t>(*length));
  input = input.subspan(static_cast<std::size_t>(*length));
  if (!is_valid_utf8(text)) return fail(CordErrorKind::InvalidUtf8);
  if (!is_nfc(text)) return fail(CordErrorKind::NotNfc);
  return text;
}

}  // namespace wire
}  // namespace morvik::cord
