#pragma once

// A dynamic value tree for exercising the encoding without system types:
// the hint rules, the reserved wrapper names and the depth limit.

#include <memory>
#include <string>
#include <vector>

#include "cord/cord.hpp"

namespace morvik::testing {

enum class Kind { U8, U32, U64, Str, Bytes, Seq, Struct, Option, Enum, Newtype, Uuid };
enum class Payload { Unit, Newtype, Struct };

// Both a value and, with its leaves left at zero, the shape a reader expects.
struct Node {
  Kind kind = Kind::U8;
  std::uint64_t number = 0;    // integers; the variant index of an enum
  std::string text;            // strings; the name of a newtype
  cord::Bytes bytes;           // byte strings; the 16 bytes of a uuid
  std::vector<Node> children;  // seq elements, struct fields, option value, newtype inner, variant fields
  Payload payload = Payload::Unit;  // enum: how the variant carries its children
  // Shapes only: the element shape of a sequence, and per variant of an enum
  // its payload kind and field shapes.
  std::vector<Node> variants;

  static Node of(Kind kind, std::uint64_t number = 0) {
    Node n;
    n.kind = kind;
    n.number = number;
    return n;
  }
  static Node u8(std::uint8_t v) { return of(Kind::U8, v); }
  static Node u32(std::uint32_t v) { return of(Kind::U32, v); }
  static Node u64(std::uint64_t v) { return of(Kind::U64, v); }
  static Node str(std::string v) { Node n = of(Kind::Str); n.text = std::move(v); return n; }
  static Node bytes_of(cord::Bytes v) { Node n = of(Kind::Bytes); n.bytes = std::move(v); return n; }
  static Node seq(Node element_shape, std::vector<Node> items = {});
  static Node structure(std::vector<Node> fields);
  static Node option(Node shape, bool present);
  static Node enumeration(std::uint32_t index, Payload payload, std::vector<Node> fields = {});
  static Node newtype(std::string name, Node inner);
  static Node uuid(cord::Bytes sixteen) { Node n = of(Kind::Uuid); n.bytes = std::move(sixteen); return n; }
};

cord::Status encode(cord::CordSerializer s, const Node& value);
cord::Result<cord::Bytes> encode(const Node& value);

// Reads a value of the given shape. An enum shape lists its variants in
// `variants`; the shape of each variant is an enumeration node whose
// payload and children describe it.
cord::Result<Node> decode(cord::CordDeserializer& d, const Node& shape);
// The whole input, with the trailing-bytes check.
cord::Result<Node> decode(cord::ByteView input, const Node& shape);

}  // namespace morvik::testing
