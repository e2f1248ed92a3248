#pragma once

// The typed layer of the encoding: a type describes its fields once and gets
// both directions from that description.
//
//   struct Point {
//     std::uint64_t x;
//     std::string label;
//     static constexpr auto cord_fields() { return std::tuple{&Point::x, &Point::label}; }
//   };
//
// Enumerations are std::variant: the variant index is the alternative's
// position. Alternatives are declared structs (struct variants), Tagged
// (newtype variants over any value) or Unit (variants without a value).

#include <algorithm>
#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "cord/boxed.hpp"
#include "cord/compact.hpp"
#include "cord/deserializer.hpp"
#include "cord/serializer.hpp"

namespace morvik::cord {

// The generic forms, chosen by the kind of type.
template <class T, class = void>
struct DefaultCodec;

// What reading and writing a T calls. A type whose codec is costly to
// compile can be declared with MORVIK_CORD_EXTERN_CODEC so that it is
// compiled once, where MORVIK_CORD_DEFINE_CODEC stands.
template <class T>
struct Codec : DefaultCodec<T> {};

template <class T>
Status write(CordSerializer s, const T& value) {
  return Codec<T>::write(s, value);
}

template <class T>
Result<T> read(CordDeserializer& d) {
  return Codec<T>::read(d);
}

// A newtype that adds nothing on the wire: a distinct type around a value,
// so that variants with the same payload stay distinct.
template <class Tag, class T>
struct Tagged {
  T value;
  auto operator<=>(const Tagged&) const = default;
};

// A variant without a value.
template <class Tag>
struct Unit {
  auto operator<=>(const Unit&) const = default;
};

// A value read together with the bytes it was read from: a view into the
// input, valid while the input is. Decoding is canonical, so those bytes are
// the value's encoding, at no cost of encoding it again. Read only.
template <class T>
struct WithEncoding {
  T value;
  ByteView encoding;
};

template <class T>
concept DeclaredStruct = requires { T::cord_fields(); };

template <>
struct DefaultCodec<std::uint8_t> {
  static Status write(CordSerializer s, std::uint8_t v) { return s.write_u8(v); }
  static Result<std::uint8_t> read(CordDeserializer& d) { return d.read_u8(); }
};

template <>
struct DefaultCodec<std::uint32_t> {
  static Status write(CordSerializer s, std::uint32_t v) { return s.write_u32(v); }
  static Result<std::uint32_t> read(CordDeserializer& d) { return d.read_u32(); }
};

template <>
struct DefaultCodec<std::uint64_t> {
  static Status write(CordSerializer s, std::uint64_t v) { return s.write_u64(v); }
  static Result<std::uint64_t> read(CordDeserializer& d) { return d.read_u64(); }
};

template <>
struct DefaultCodec<std::string> {
  static Status write(CordSerializer s, const std::string& v) { return s.write_string(v); }
  static Result<std::string> read(CordDeserializer& d) { return d.read_string(); }
};

// Byte strings: a sequence of 8-bit integers, read in one piece.
template <class ByteString>
struct ByteStringCodec {
  static Status write(CordSerializer s, const ByteString& v) { return s.write_bytes(v); }
  static Result<ByteString> read(CordDeserializer& d) {
    return d.nested([&]() -> Result<ByteString> {
      auto count = d.parse_length();
      if (!count) return fail(std::move(count.error()));
      auto bytes = d.read_bytes(*count);
      if (!bytes) return fail(std::move(bytes.error()));
      return ByteString(bytes->begin(), bytes->end());
    });
  }
};

template <>
struct DefaultCodec<Bytes> : ByteStringCodec<Bytes> {};

template <>
struct DefaultCodec<CompactBytes> : ByteStringCodec<CompactBytes> {};

template <>
struct DefaultCodec<CompactText> {
  static Status write(CordSerializer s, const CompactText& v) { return s.write_string(v); }
  static Result<CompactText> read(CordDeserializer& d) {
    auto text = d.parse_string();
    if (!text) return fail(std::move(text.error()));
    return CompactText(*text);
  }
};

// The fewest bytes a value of a type can take on the wire, lengths, counts
// and variant indices being four bytes wide unless a wrapper name narrows
// them; no type here has such a name.
template <class T>
struct EncodedFloor {
  static constexpr std::size_t value = 1;
};
template <class T>
inline constexpr std::size_t encoded_floor = EncodedFloor<T>::value;

template <class Member>
struct MemberOf;
template <class Struct, class Field>
struct MemberOf<Field Struct::*> {
  using type = Field;
};

template <>
struct EncodedFloor<std::uint32_t> {
  static constexpr std::size_t value = 4;
};
template <>
struct EncodedFloor<std::uint64_t> {
  static constexpr std::size_t value = 8;
};
template <>
struct EncodedFloor<std::string> {
  static constexpr std::size_t value = 4;
};
template <class Unit>
struct EncodedFloor<CompactArray<Unit>> {
  static constexpr std::size_t value = 4;
};
template <>
struct EncodedFloor<Bytes> {
  static constexpr std::size_t value = 4;
};
template <class T>
struct EncodedFloor<std::vector<T>> {
  static constexpr std::size_t value = 4;
};
template <class T>
struct EncodedFloor<Boxed<T>> : EncodedFloor<T> {};
template <class Tag, class T>
struct EncodedFloor<Tagged<Tag, T>> : EncodedFloor<T> {};
template <class... Alts>
struct EncodedFloor<std::variant<Alts...>> {
  static constexpr std::size_t value = 4;
};
template <DeclaredStruct T>
struct EncodedFloor<T> {
  static constexpr std::size_t value = std::apply(
      [](auto... member) { return (std::size_t{0} + ... + encoded_floor<typename MemberOf<decltype(member)>::type>); },
      T::cord_fields());
};

// How many elements to reserve for a sequence that claims `count`: no more
// than the rest of the input can hold. A count that tells the truth is
// reserved exactly, so a long list never grows by doubling.
template <class T>
std::size_t preallocation(std::uint64_t count, const CordDeserializer& d) {
  const std::size_t floor = std::max<std::size_t>(1, encoded_floor<T>);
  return static_cast<std::size_t>(std::min<std::uint64_t>(count, d.remaining().size() / floor));
}

// Whether a T takes no more memory than four times its smallest encoding,
// which keeps a decoded list of them within four times its input (contents
// beyond the smallest take about what they take on the wire).
template <class T>
inline constexpr bool decodes_compactly = sizeof(T) <= 4 * encoded_floor<T>;

template <class T>
struct DefaultCodec<std::vector<T>, std::enable_if_t<!std::is_same_v<T, std::uint8_t>>> {
  static Status write(CordSerializer s, const std::vector<T>& v) {
    if (auto st = s.write_count(v.size()); !st) return st;
    for (const T& element : v) {
      if (auto st = cord::write(s.fresh(), element); !st) return st;
    }
    return {};
  }
  static Result<std::vector<T>> read(CordDeserializer& d) {
    return d.nested([&]() -> Result<std::vector<T>> {
      auto count = d.parse_length();
      if (!count) return fail(std::move(count.error()));
      std::vector<T> out;
      out.reserve(preallocation<T>(*count, d));
      for (std::uint64_t i = 0; i < *count; ++i) {
        d.reset_hint();
        auto element = cord::read<T>(d);
        if (!element) return fail(std::move(element.error()));
        out.push_back(std::move(*element));
      }
      return out;
    });
  }
};

template <class T>
struct DefaultCodec<std::optional<T>> {
  static Status write(CordSerializer s, const std::optional<T>& v) {
    if (!v) return s.write_u8(0);
    if (auto st = s.write_u8(1); !st) return st;
    return cord::write(s, *v);
  }
  static Result<std::optional<T>> read(CordDeserializer& d) {
    auto tag = d.next();
    if (!tag) return fail(std::move(tag.error()));
    if (*tag == 0) return std::optional<T>{};
    if (*tag != 1) return fail(CordError::validation("Invalid option variant"));
    return d.nested([&]() -> Result<std::optional<T>> {
      auto value = cord::read<T>(d);
      if (!value) return fail(std::move(value.error()));
      return std::optional<T>(std::move(*value));
    });
  }
};

template <class Tag, class T>
struct DefaultCodec<Tagged<Tag, T>> {
  static Status write(CordSerializer s, const Tagged<Tag, T>& v) { return cord::write(s, v.value); }
  static Result<Tagged<Tag, T>> read(CordDeserializer& d) {
    auto value = cord::read<T>(d);
    if (!value) return fail(std::move(value.error()));
    return Tagged<Tag, T>{std::move(*value)};
  }
};

template <class T>
struct DefaultCodec<Boxed<T>> {
  static Status write(CordSerializer s, const Boxed<T>& v) { return cord::write(s, *v); }
  static Result<Boxed<T>> read(CordDeserializer& d) {
    auto value = cord::read<T>(d);
    if (!value) return fail(std::move(value.error()));
    return Boxed<T>(std::move(*value));
  }
};

template <class Tag>
struct DefaultCodec<Unit<Tag>> {
  static Status write(CordSerializer, const Unit<Tag>&) { return {}; }
  static Result<Unit<Tag>> read(CordDeserializer&) { return Unit<Tag>{}; }
};

template <DeclaredStruct T>
struct DefaultCodec<T> {
  static Status write(CordSerializer s, const T& v) {
    Status status;
    std::apply([&](auto... member) { ((status = cord::write(s.fresh(), v.*member)) && ...); }, T::cord_fields());
    return status;
  }
  static Result<T> read(CordDeserializer& d) {
    return d.nested([&]() -> Result<T> {
      T v{};
      Status status;
      std::apply(
          [&](auto... member) {
            ((status = read_field(d, v.*member)) && ...);
          },
          T::cord_fields());
      if (!status) return fail(std::move(status.error()));
      return v;
    });
  }

 private:
  template <class F>
  static Status read_field(CordDeserializer& d, F& field) {
    d.reset_hint();
    auto value = cord::read<F>(d);
    if (!value) return fail(std::move(value.error()));
    field = std::move(*value);
    return {};
  }
};

template <class... Alts>
struct DefaultCodec<std::variant<Alts...>> {
  using V = std::variant<Alts...>;

  static Status write(CordSerializer s, const V& v) {
    if (auto st = s.write_variant_index(static_cast<std::uint32_t>(v.index())); !st) return st;
    return std::visit([&](const auto& alt) { return cord::write(s.fresh(), alt); }, v);
  }

  static Result<V> read(CordDeserializer& d) {
    return d.nested([&]() -> Result<V> {
      auto index = d.parse_variant_index();
      if (!index) return fail(std::move(index.error()));
      if (*index >= sizeof...(Alts)) return fail(CordError::unknown_variant(*index));
      return readers()[*index](d);
    });
  }

 private:
  using Reader = Result<V> (*)(CordDeserializer&);

  template <std::size_t I>
  static Result<V> read_alternative(CordDeserializer& d) {
    using Alt = std::variant_alternative_t<I, V>;
    auto value = cord::read<Alt>(d);
    if (!value) return fail(std::move(value.error()));
    return V(std::in_place_index<I>, std::move(*value));
  }

  static constexpr std::array<Reader, sizeof...(Alts)> readers() {
    return []<std::size_t... I>(std::index_sequence<I...>) {
      return std::array<Reader, sizeof...(Alts)>{&read_alternative<I>...};
    }(std::index_sequence_for<Alts...>{});
  }
};

// Declares, at global scope, that the codec of a type is compiled in one
// place only.
#define MORVIK_CORD_EXTERN_CODEC(...)                                                               \
  template <>                                                                                      \
  struct morvik::cord::Codec<__VA_ARGS__> {                                                        \
    static ::morvik::cord::Status write(::morvik::cord::CordSerializer, const __VA_ARGS__&);       \
    static ::morvik::cord::Result<__VA_ARGS__> read(::morvik::cord::CordDeserializer&);            \
  }

// Compiles a codec declared with MORVIK_CORD_EXTERN_CODEC; at global scope.
#define MORVIK_CORD_DEFINE_CODEC(...)                                                                  \
  ::morvik::cord::Status morvik::cord::Codec<__VA_ARGS__>::write(::morvik::cord::CordSerializer s,    \
                                                                const __VA_ARGS__& v) {               \
    return ::morvik::cord::DefaultCodec<__VA_ARGS__>::write(s, v);                                    \
  }                                                                                                   \
  ::morvik::cord::Result<__VA_ARGS__> morvik::cord::Codec<__VA_ARGS__>::read(                         \
      ::morvik::cord::CordDeserializer& d) {                                                          \
    return ::morvik::cord::DefaultCodec<__VA_ARGS__>::read(d);                                        \
  }

// The canonical encoding of a value as a new byte vector.
template <class T>
Result<Bytes> serialize(const T& value) {
  Bytes out;
  out.reserve(64);
  if (auto st = cord::write(CordSerializer(out), value); !st) return fail(std::move(st.error()));
  return out;
}

// Decodes exactly one value from the whole input.
template <class T>
Result<T> deserialize(ByteView input) {
  CordDeserializer d(input);
  auto value = cord::read<T>(d);
  if (!value) return value;
  if (!d.remaining().empty()) return fail(CordErrorKind::TrailingBytes);
  return value;
}

template <class T>
struct EncodedFloor<WithEncoding<T>> : EncodedFloor<T> {};

template <class T>
struct DefaultCodec<WithEncoding<T>> {
  static Result<WithEncoding<T>> read(CordDeserializer& d) {
    const ByteView before = d.remaining();
    auto value = cord::read<T>(d);
    if (!value) return fail(std::move(value.error()));
    return WithEncoding<T>{std::move(*value), before.first(before.size() - d.remaining().size())};
  }
};

}  // namespace morvik::cord
