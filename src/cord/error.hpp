#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace morvik::cord {

// The failure cases of the encoding. The order is part of the contract:
// case numbers are declaration positions.
enum class CordErrorKind : std::uint8_t {
  Io,
  Unsupported,
  Validation,
  Serialization,
  Deserialization,
  Schema,
  DepthLimitExceeded,
  LengthLimitExceeded,
  UnknownVariant,
  DuplicateMapKey,
  DuplicateSetElement,
  TrailingBytes,
  UnexpectedEof,
  InvalidBool,
  InvalidVarint,
  InvalidUtf8,
  NotNfc,
  NanNotAllowed,
  NegativeZeroNotAllowed,
  ConflictingHints,
  WidthOverflow,
};

struct CordError {
  CordErrorKind kind;
  std::string text;         // Io, Unsupported, Validation, Serialization, Deserialization, Schema
  std::uint64_t length = 0; // LengthLimitExceeded
  std::uint64_t maximum = 0;
  std::uint32_t index = 0;  // UnknownVariant
  std::uint64_t needed = 0; // UnexpectedEof (never shown)

  static CordError of(CordErrorKind kind) { return CordError{kind, {}}; }
  static CordError with_text(CordErrorKind kind, std::string text) { return CordError{kind, std::move(text)}; }
  static CordError length_limit(std::uint64_t length, std::uint64_t maximum) {
    return CordError{CordErrorKind::LengthLimitExceeded, {}, length, maximum};
  }
  static CordError unknown_variant(std::uint32_t index) {
    return CordError{CordErrorKind::UnknownVariant, {}, 0, 0, index};
  }
  static CordError eof(std::uint64_t needed) {
    return CordError{CordErrorKind::UnexpectedEof, {}, 0, 0, 0, needed};
  }
  static CordError validation(std::string_view text) { return with_text(CordErrorKind::Validation, std::string(text)); }

  // Serializer-side and deserializer-side wrapping: the result carries the
  // inner error's whole message as its text.
  static CordError custom_ser(const CordError& inner) {
    return with_text(CordErrorKind::Serialization, inner.message());
  }
  static CordError custom_de(const CordError& inner) {
    return with_text(CordErrorKind::Deserialization, inner.message());
  }
  static CordError custom_de(std::string_view text) {
    return with_text(CordErrorKind::Deserialization, std::string(text));
  }

  std::string message() const;
  bool operator==(const CordError&) const = default;
};

template <class T>
using Result = std::expected<T, CordError>;
using Status = std::expected<void, CordError>;

inline std::unexpected<CordError> fail(CordError e) { return std::unexpected(std::move(e)); }
inline std::unexpected<CordError> fail(CordErrorKind kind) { return std::unexpected(CordError::of(kind)); }

}  // namespace morvik::cord
