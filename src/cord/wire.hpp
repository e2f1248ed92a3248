#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cord/bytes.hpp"
#include "cord/error.hpp"

namespace morvik::cord {

using ByteView = std::span<const std::uint8_t>;

// Wire width of a length, element count or variant index.
enum class Width : std::uint8_t { U8, U16, U32, U64 };

// One-shot hint set by a width or varint wrapper name; taken by the next
// length, count or variant index.
enum class EncodingHint : std::uint8_t { None, Varint, Width8, Width16, Width64 };

constexpr Width width_of_hint(EncodingHint hint) {
  switch (hint) {
    case EncodingHint::Width8: return Width::U8;
    case EncodingHint::Width16: return Width::U16;
    case EncodingHint::Width64: return Width::U64;
    case EncodingHint::None:
    case EncodingHint::Varint: break;
  }
  return Width::U32;
}

constexpr std::size_t byte_count(Width w) {
  switch (w) {
    case Width::U8: return 1;
    case Width::U16: return 2;
    case Width::U32: return 4;
    case Width::U64: return 8;
  }
  return 4;
}

// Largest length or count any reader accepts.
inline constexpr std::uint64_t kMaxLength = 16'777'216;
// Deepest nesting any reader accepts.
inline constexpr std::uint64_t kMaxDepth = 128;

inline constexpr std::string_view kSetName = "__cord_set";
inline constexpr std::string_view kEvolving32 = "__cord_evolving32";
inline constexpr std::string_view kEvolving32Raw = "__cord_evolving32_raw";

// The width of an evolving payload's length prefix for an evolving wrapper
// name; none for every other name.
std::optional<Width> evolving_width(std::string_view name);

// The width hint a wrapper name sets, if it is one of the width or varint names.
std::optional<EncodingHint> hint_of_name(std::string_view name);

inline constexpr std::string_view kUuidName = "__cord_uuid";

// A text in NFC: either the argument itself or its composed copy.
class NfcText {
 public:
  explicit NfcText(std::string_view borrowed) : borrowed_(borrowed) {}
  explicit NfcText(std::string owned) : owned_(std::move(owned)) {}
  std::string_view text() const { return owned_ ? std::string_view(*owned_) : borrowed_; }
  bool changed() const { return owned_.has_value(); }

 private:
  std::string_view borrowed_;
  std::optional<std::string> owned_;
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text);
// The full NFC test (valid UTF-8 assumed).
bool is_nfc(std::string_view text);

namespace wire {

Status write_length(Bytes& out, std::uint64_t value, Width width);
// Writes a length over the byte_count(width) bytes at `at`, room left for it
// before what it counts was written.
Status write_length_at(Bytes& out, std::size_t at, std::uint64_t value, Width width);
Status write_variant_index(Bytes& out, std::uint32_t index, Width width);

// Fails only with InvalidUtf8: a text that is not UTF-8 has no canonical form.
Result<NfcText> normalize_nfc(std::string_view text);

// Readers over an explicit input; each consumes from the front of `input`.
Result<std::uint64_t> read_length(ByteView& input, Width width, std::uint64_t maximum);
Result<std::string_view> read_str(ByteView& input, Width width, std::uint64_t maximum);

}  // namespace wire
}  // namespace morvik::cord
