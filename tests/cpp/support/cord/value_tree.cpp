#include "support/cord/value_tree.hpp"

namespace morvik::testing {

using cord::CordDeserializer;
using cord::CordError;
using cord::CordSerializer;
using cord::Result;
using cord::Status;

Node Node::seq(Node element_shape, std::vector<Node> items) {
  Node n = of(Kind::Seq);
  n.variants.push_back(std::move(element_shape));
  n.children = std::move(items);
  return n;
}

Node Node::structure(std::vector<Node> fields) {
  Node n = of(Kind::Struct);
  n.children = std::move(fields);
  return n;
}

Node Node::option(Node shape, bool present) {
  Node n = of(Kind::Option);
  n.variants.push_back(shape);
  if (present) n.children.push_back(std::move(shape));
  return n;
}

Node Node::enumeration(std::uint32_t index, Payload payload, std::vector<Node> fields) {
  Node n = of(Kind::Enum, index);
  n.payload = payload;
  n.children = std::move(fields);
  return n;
}

Node Node::newtype(std::string name, Node inner) {
  Node n = of(Kind::Newtype);
  n.text = std::move(name);
  n.children.push_back(std::move(inner));
  return n;
}

Status encode(CordSerializer s, const Node& v) {
  switch (v.kind) {
    case Kind::U8: return s.write_u8(static_cast<std::uint8_t>(v.number));
    case Kind::U32: return s.write_u32(static_cast<std::uint32_t>(v.number));
    case Kind::U64: return s.write_u64(v.number);
    case Kind::Str: return s.write_string(v.text);
    case Kind::Bytes: return s.write_bytes(v.bytes);
    case Kind::Uuid: s.write_raw(v.bytes); return {};
    case Kind::Seq:
      if (auto st = s.write_count(v.children.size()); !st) return st;
      for (const Node& c : v.children) {
        if (auto st = encode(s.fresh(), c); !st) return st;
      }
      return {};
    case Kind::Struct:
      for (const Node& c : v.children) {
        if (auto st = encode(s.fresh(), c); !st) return st;
      }
      return {};
    case Kind::Option:
      if (v.children.empty()) return s.write_u8(0);
      if (auto st = s.write_u8(1); !st) return st;
      return encode(s, v.children.front());
    case Kind::Enum:
      if (auto st = s.write_variant_index(static_cast<std::uint32_t>(v.number)); !st) return st;
      for (const Node& c : v.children) {
        if (auto st = encode(s.fresh(), c); !st) return st;
      }
      return {};
    case Kind::Newtype:
      return s.write_newtype(v.text, [&](CordSerializer inner) { return encode(inner, v.children.front()); });
  }
  return {};
}

Result<cord::Bytes> encode(const Node& value) {
  cord::Bytes out;
  if (auto st = encode(CordSerializer(out), value); !st) return cord::fail(st.error());
  return out;
}

namespace {

Result<std::vector<Node>> decode_all(CordDeserializer& d, const std::vector<Node>& shapes) {
  std::vector<Node> out;
  for (const Node& shape : shapes) {
    d.reset_hint();
    auto c = decode(d, shape);
    if (!c) return cord::fail(c.error());
    out.push_back(std::move(*c));
  }
  return out;
}

}  // namespace

Result<Node> decode(CordDeserializer& d, const Node& shape) {
  switch (shape.kind) {
    case Kind::U8: {
      auto v = d.read_u8();
      if (!v) return cord::fail(v.error());
      return Node::u8(*v);
    }
    case Kind::U32: {
      auto v = d.read_u32();
      if (!v) return cord::fail(v.error());
      return Node::u32(*v);
    }
    case Kind::U64: {
      auto v = d.read_u64();
      if (!v) return cord::fail(v.error());
      return Node::u64(*v);
    }
    case Kind::Str: {
      auto v = d.read_string();
      if (!v) return cord::fail(v.error());
      return Node::str(*v);
    }
    case Kind::Bytes: {
      auto v = cord::read<cord::Bytes>(d);
      if (!v) return cord::fail(v.error());
      return Node::bytes_of(*v);
    }
    case Kind::Uuid:
      return cord::fail(CordError::validation("FixedBytesDeserializer only supports deserialize_bytes"));
    case Kind::Seq:
      return d.nested([&]() -> Result<Node> {
        auto count = d.parse_length();
        if (!count) return cord::fail(count.error());
        Node out = Node::seq(shape.variants.front());
        for (std::uint64_t i = 0; i < *count; ++i) {
          d.reset_hint();
          auto c = decode(d, shape.variants.front());
          if (!c) return cord::fail(c.error());
          out.children.push_back(std::move(*c));
        }
        return out;
      });
    case Kind::Struct:
      return d.nested([&]() -> Result<Node> {
        auto fields = decode_all(d, shape.children);
        if (!fields) return cord::fail(fields.error());
        return Node::structure(std::move(*fields));
      });
    case Kind::Option: {
      auto tag = d.next();
      if (!tag) return cord::fail(tag.error());
      if (*tag == 0) return Node::option(shape.variants.front(), false);
      if (*tag != 1) return cord::fail(CordError::validation("Invalid option variant"));
      return d.nested([&]() -> Result<Node> {
        auto inner = decode(d, shape.variants.front());
        if (!inner) return cord::fail(inner.error());
        Node out = Node::option(shape.variants.front(), false);
        out.children.push_back(std::move(*inner));
        return out;
      });
    }
    case Kind::Enum:
      return d.nested([&]() -> Result<Node> {
        auto index = d.parse_variant_index();
        if (!index) return cord::fail(index.error());
        if (*index >= shape.variants.size()) return cord::fail(CordError::unknown_variant(*index));
        const Node& variant = shape.variants[*index];
        if (variant.payload == Payload::Struct) {
          return d.nested([&]() -> Result<Node> {
            auto fields = decode_all(d, variant.children);
            if (!fields) return cord::fail(fields.error());
            return Node::enumeration(*index, Payload::Struct, std::move(*fields));
          });
        }
        auto fields = decode_all(d, variant.children);
        if (!fields) return cord::fail(fields.error());
        return Node::enumeration(*index, variant.payload, std::move(*fields));
      });
    case Kind::Newtype: {
      const Node& inner_shape = shape.children.front();
      if (cord::evolving_width(shape.text)) {
        return cord::fail(CordError::custom_de("evolving payloads are read through cord::Evolving"));
      }
      if (shape.text == cord::kUuidName) {
        auto raw = d.read_bytes(16);
        if (!raw) return cord::fail(raw.error());
        if (inner_shape.kind != Kind::Uuid) {
          return cord::fail(CordError::validation("FixedBytesDeserializer only supports deserialize_bytes"));
        }
        return Node::newtype(shape.text, Node::uuid(cord::Bytes(raw->begin(), raw->end())));
      }
      if (auto st = d.apply_wrapper_name(shape.text); !st) return cord::fail(st.error());
      auto inner = decode(d, inner_shape);
      if (!inner) return cord::fail(inner.error());
      return Node::newtype(shape.text, std::move(*inner));
    }
  }
  return cord::fail(CordError::custom_de("unknown shape"));
}

Result<Node> decode(cord::ByteView input, const Node& shape) {
  CordDeserializer d(input);
  auto value = decode(d, shape);
  if (!value) return value;
  if (!d.remaining().empty()) return cord::fail(cord::CordErrorKind::TrailingBytes);
  return value;
}

}  // namespace morvik::testing
