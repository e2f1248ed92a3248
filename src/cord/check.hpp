#pragma once

// Checking a value without building it: check<T> reads exactly what read<T>
// reads, makes every test it makes in the same order and fails with the same
// error, but keeps nothing and allocates nothing. The checks follow the
// generic codecs; a type whose codec is its own (secret bytes, say) has no
// check until one is written beside it, and checking it does not compile.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "cord/codec.hpp"
#include "cord/evolving.hpp"
#include "cord/set.hpp"

namespace morvik::cord {

template <class T, class = void>
struct DefaultCheck;

template <class T>
struct Check : DefaultCheck<T> {};

template <class T>
Status check(CordDeserializer& d) {
  return Check<T>::check(d);
}

// Drops a read value: only its success counts.
template <class T>
Status status_of(Result<T> read) {
  if (!read) return fail(std::move(read.error()));
  return {};
}

template <>
struct DefaultCheck<std::uint8_t> {
  static Status check(CordDeserializer& d) { return status_of(d.read_u8()); }
};

template <>
struct DefaultCheck<std::uint32_t> {
  static Status check(CordDeserializer& d) { return status_of(d.read_u32()); }
};

template <>
struct DefaultCheck<std::uint64_t> {
  static Status check(CordDeserializer& d) { return status_of(d.read_u64()); }
};

template <>
struct DefaultCheck<std::string> {
  static Status check(CordDeserializer& d) { return status_of(d.parse_string()); }
};

template <>
struct DefaultCheck<CompactText> {
  static Status check(CordDeserializer& d) { return status_of(d.parse_string()); }
};

struct ByteStringCheck {
  static Status check(CordDeserializer& d) {
    return d.nested([&]() -> Status {
      auto count = d.parse_length();
      if (!count) return fail(std::move(count.error()));
      return status_of(d.read_bytes(*count));
    });
  }
};

template <>
struct DefaultCheck<Bytes> : ByteStringCheck {};

template <>
struct DefaultCheck<CompactBytes> : ByteStringCheck {};

template <class T>
struct DefaultCheck<std::vector<T>, std::enable_if_t<!std::is_same_v<T, std::uint8_t>>> {
  static Status check(CordDeserializer& d) {
    return d.nested([&]() -> Status {
      auto count = d.parse_length();
      if (!count) return fail(std::move(count.error()));
      for (std::uint64_t i = 0; i < *count; ++i) {
        d.reset_hint();
        if (auto st = cord::check<T>(d); !st) return st;
      }
      return {};
    });
  }
};

template <class T>
struct DefaultCheck<std::optional<T>> {
  static Status check(CordDeserializer& d) {
    auto tag = d.next();
    if (!tag) return fail(std::move(tag.error()));
    if (*tag == 0) return {};
    if (*tag != 1) return fail(CordError::validation("Invalid option variant"));
    return d.nested([&]() -> Status { return cord::check<T>(d); });
  }
};

template <class Tag, class T>
struct DefaultCheck<Tagged<Tag, T>> {
  static Status check(CordDeserializer& d) { return cord::check<T>(d); }
};

template <class T>
struct DefaultCheck<Boxed<T>> {
  static Status check(CordDeserializer& d) { return cord::check<T>(d); }
};

template <class Tag>
struct DefaultCheck<Unit<Tag>> {
  static Status check(CordDeserializer&) { return {}; }
};

template <DeclaredStruct T>
struct DefaultCheck<T> {
  static Status check(CordDeserializer& d) {
    return d.nested([&]() -> Status {
      Status status;
      std::apply(
          [&](auto... member) {
            ((status = check_field<typename MemberOf<decltype(member)>::type>(d)) && ...);
          },
          T::cord_fields());
      return status;
    });
  }

 private:
  template <class F>
  static Status check_field(CordDeserializer& d) {
    d.reset_hint();
    return cord::check<F>(d);
  }
};

template <class... Alts>
struct DefaultCheck<std::variant<Alts...>> {
  static Status check(CordDeserializer& d) {
    return d.nested([&]() -> Status {
      auto index = d.parse_variant_index();
      if (!index) return fail(std::move(index.error()));
      if (*index >= sizeof...(Alts)) return fail(CordError::unknown_variant(*index));
      return checkers()[*index](d);
    });
  }

 private:
  using Checker = Status (*)(CordDeserializer&);
  static constexpr std::array<Checker, sizeof...(Alts)> checkers() { return {&cord::check<Alts>...}; }
};

template <class T>
struct DefaultCheck<Evolving<T>> {
  static Status check(CordDeserializer& d) {
    auto payload = d.read_evolving_payload(Width::U32);
    if (!payload) return fail(std::move(payload.error()));
    CordDeserializer inner(*payload);
    auto checked = cord::check<T>(inner);
    if (checked) {
      if (!inner.remaining().empty()) return fail(CordError::custom_de("trailing bytes in evolving payload"));
      return {};
    }
    // Kept as opaque bytes by the decoder.
    if (checked.error().kind == CordErrorKind::UnknownVariant) return {};
    return fail(CordError::custom_de(checked.error()));
  }
};

// A set's elements in canonical order, as read_set_elements accepts them.
template <class T>
Status check_set_elements(CordDeserializer& d) {
  return walk_set_elements(d, [](CordDeserializer& from) { return cord::check<T>(from); }, [](std::uint64_t) {});
}

template <class T>
struct DefaultCheck<Set<T>> {
  static Status check(CordDeserializer& d) { return check_set_elements<T>(d); }
};

template <class T>
struct DefaultCheck<SetInWireOrder<T>> {
  static Status check(CordDeserializer& d) { return check_set_elements<T>(d); }
};

// Whether `encoding` begins with an evolving value (written without a width
// hint) whose payload begins with the variant index `index`: the payload's
// four-byte length, then the index in four bytes. Lets a reader build only
// the values of one variant and check all the others in place.
inline bool evolving_starts_with_index(ByteView encoding, std::uint32_t index) {
  return encoding.size() >= 8 && encoding[4] == (index >> 24 & 0xFF) && encoding[5] == (index >> 16 & 0xFF) &&
         encoding[6] == (index >> 8 & 0xFF) && encoding[7] == (index & 0xFF);
}

// One T checked in place and built only when `may_matter` says its encoding
// may hold what the caller keeps; none otherwise. Lets a reader that wants a
// few elements of a large set pass over the rest without building them.
template <class T, class MayMatter>
Result<std::optional<T>> check_then_read_if(CordDeserializer& d, MayMatter may_matter) {
  const ByteView before = d.remaining();
  if (auto checked = check<T>(d); !checked) return fail(std::move(checked.error()));
  const ByteView encoding = before.first(before.size() - d.remaining().size());
  if (!may_matter(encoding)) return std::optional<T>();
  // Checked in place already, so this decoding succeeds.
  auto value = deserialize<T>(encoding);
  if (!value) return fail(std::move(value.error()));
  return std::optional<T>(std::move(*value));
}

// Whether the whole input is one value that deserialize<T> would accept,
// with its error when it is not.
template <class T>
Status check_whole(ByteView input) {
  CordDeserializer d(input);
  if (auto st = cord::check<T>(d); !st) return st;
  if (!d.remaining().empty()) return fail(CordErrorKind::TrailingBytes);
  return {};
}

}  // namespace morvik::cord
