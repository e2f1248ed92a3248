#include "cord/error.hpp"

namespace morvik::cord {

std::string CordError::message() const {
  using K = CordErrorKind;
  switch (kind) {
    case K::Io: return "Cord encountered I/O error: " + text;
    case K::Unsupported: return "Cord does not support: " + text;
    case K::Validation: return "Cord could not validate: " + text;
    case K::Serialization: return "Cord serialization error: " + text;
    case K::Deserialization: return "Cord deserialization error: " + text;
    case K::Schema: return "Cord schema error: " + text;
    case K::DepthLimitExceeded: return "Cord depth limit exceeded";
    case K::LengthLimitExceeded:
      return "Cord length limit exceeded: " + std::to_string(length) + " exceeds maximum of " + std::to_string(maximum);
    case K::UnknownVariant: return "Cord encountered unknown enum variant index " + std::to_string(index);
    case K::DuplicateMapKey: return "Duplicate key in map";
    case K::DuplicateSetElement: return "Duplicate element in set";
    case K::TrailingBytes: return "Trailing bytes after deserialization";
    case K::UnexpectedEof: return "Unexpected end of input";
    case K::InvalidBool: return "Invalid boolean value";
    case K::InvalidVarint: return "Invalid varint encoding";
    case K::InvalidUtf8: return "Invalid UTF-8";
    case K::NotNfc: return "String is not NFC normalized";
    case K::NanNotAllowed: return "NaN is not allowed in canonical encoding";
    case K::NegativeZeroNotAllowed: return "Negative zero is not allowed in canonical encoding";
    case K::ConflictingHints: return "Conflicting encoding hints";
    case K::WidthOverflow: return "Value overflow for encoding width";
  }
  return {};
}

}  // namespace morvik::cord
