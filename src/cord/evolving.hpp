#pragma once

#include <variant>

#include "cord/codec.hpp"

namespace morvik::cord {

// The payload of an evolving value naming a variant this build does not
// know, kept verbatim so it is written back unchanged.
struct UnknownPayload {
  Bytes bytes;
  auto operator<=>(const UnknownPayload&) const = default;
};

// A value written as a length-prefixed payload, so readers that do not know
// its variant keep it as opaque bytes.
template <class T>
struct Evolving {
  std::variant<T, UnknownPayload> value;

  Evolving() = default;
  Evolving(T known) : value(std::move(known)) {}
  Evolving(UnknownPayload unknown) : value(std::move(unknown)) {}

  const T* known() const { return std::get_if<T>(&value); }
  T* known() { return std::get_if<T>(&value); }
  const UnknownPayload* unknown() const { return std::get_if<UnknownPayload>(&value); }

  auto operator<=>(const Evolving&) const = default;
};

// Its payload's length, four bytes wide, comes first.
template <class T>
struct EncodedFloor<Evolving<T>> {
  static constexpr std::size_t value = 4;
};

template <class T>
struct DefaultCodec<Evolving<T>> {
  static Status write(CordSerializer s, const Evolving<T>& v) {
    if (const T* known = v.known()) {
      return s.write_newtype(kEvolving32, [&](CordSerializer inner) { return cord::write(inner, *known); });
    }
    return s.write_newtype(kEvolving32Raw, [&](CordSerializer inner) -> Status {
      inner.write_raw(v.unknown()->bytes);
      return {};
    });
  }

  static Result<Evolving<T>> read(CordDeserializer& d) {
    auto payload = d.read_evolving_payload(Width::U32);
    if (!payload) return fail(std::move(payload.error()));
    return read_payload(*payload);
  }

  // Decodes one payload: a value of a variant this build does not know (at
  // any depth inside it) is kept as bytes.
  static Result<Evolving<T>> read_payload(ByteView payload) {
    CordDeserializer inner(payload);
    auto value = cord::read<T>(inner);
    if (value) {
      if (!inner.remaining().empty()) return fail(CordError::custom_de("trailing bytes in evolving payload"));
      return Evolving<T>(std::move(*value));
    }
    if (value.error().kind == CordErrorKind::UnknownVariant) {
      return Evolving<T>(UnknownPayload{Bytes(payload.begin(), payload.end())});
    }
    return fail(CordError::custom_de(value.error()));
  }
};

}  // namespace morvik::cord
