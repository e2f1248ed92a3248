#pragma once

#include <algorithm>
#include <numeric>
#include <set>
#include <vector>

#include "cord/codec.hpp"

namespace morvik::cord {

// An unordered collection of distinct values, written with its elements
// sorted by their own encodings. In memory it is ordered by value, which has
// no meaning on the wire.
template <class T>
class Set {
 public:
  using value_type = T;
  using const_iterator = typename std::set<T>::const_iterator;

  Set() = default;
  Set(std::initializer_list<T> items) : items_(items) {}

  // False when an equal element is already held.
  bool insert(T value) { return items_.insert(std::move(value)).second; }
  bool contains(const T& value) const { return items_.contains(value); }
  bool erase(const T& value) { return items_.erase(value) > 0; }
  // Empties the set, handing each element in order to `take`, which may
  // move from it.
  template <class F>
  void drain(F&& take) {
    while (!items_.empty()) take(std::move(items_.extract(items_.begin()).value()));
  }
  // Adds an element expected to order after every element held: no search
  // when it does, an ordinary insertion when it does not.
  void append_last(T value) { items_.emplace_hint(items_.end(), std::move(value)); }
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

  bool operator==(const Set&) const = default;
  auto operator<=>(const Set&) const = default;

 private:
  std::set<T> items_;
};

// Bytewise order of two encodings, the shorter first on a common prefix.
inline bool encoding_less(ByteView a, ByteView b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

// Walks the elements of a set in the order the wire holds them, accepted
// only in canonical order: `reserve` is told the announced count before the
// first, and `each(d)` consumes one element. Decoding is canonical (a decoded
// value re-encodes to the bytes it was read from), so comparing the consumed
// input of neighbours is the same test as comparing their re-encodings.
template <class Each, class R>
Status walk_set_elements(CordDeserializer& d, Each&& each, R&& reserve) {
  if (auto st = d.apply_wrapper_name(kSetName); !st) return st;
  return d.nested([&]() -> Status {
    auto count = d.parse_length();
    if (!count) return fail(std::move(count.error()));
    reserve(*count);
    ByteView previous;
    for (std::uint64_t i = 0; i < *count; ++i) {
      d.reset_hint();
      const ByteView before = d.remaining();
      if (auto st = each(d); !st) return st;
      const ByteView consumed = before.first(before.size() - d.remaining().size());
      if (i > 0 && !encoding_less(previous, consumed)) {
        return fail(CordError::custom_de(CordError::of(CordErrorKind::DuplicateSetElement)));
      }
      previous = consumed;
    }
    return {};
  });
}

// Reads the elements of a set, handing each to `take` (a set that fails to
// decode is dropped whole, so what was taken before the failure is of no
// account). Before the first, `reserve` is told how many elements to make
// room for (see preallocation).
template <class T, class F, class R>
Status read_set_elements(CordDeserializer& d, F&& take, R&& reserve) {
  auto read_one = [&](CordDeserializer& from) -> Status {
    auto element = cord::read<T>(from);
    if (!element) return fail(std::move(element.error()));
    take(std::move(*element));
    return {};
  };
  return walk_set_elements(d, read_one, [&](std::uint64_t count) { reserve(preallocation<T>(count, d)); });
}

// What write_set does with elements of equal encodings: a Set never holds
// two (an error if it seems to), a list of elements may, and keeps one.
enum class EqualElements : std::uint8_t { Refused, Folded };

// Writes `elements`, `count` of them, as a set: each element encoded once,
// the encodings sorted, and the output grown once to take them all.
template <class T, class Range>
Status write_set(CordSerializer s, const Range& elements, std::size_t count, EqualElements equal) {
  Bytes scratch;
  scratch.reserve(16 * count);
  std::vector<std::pair<std::size_t, std::size_t>> spans;  // start, end in scratch
  spans.reserve(count);
  for (const T& element : elements) {
    const std::size_t start = scratch.size();
    if (auto st = cord::write(CordSerializer(scratch), element); !st) return fail(CordError::custom_ser(st.error()));
    spans.emplace_back(start, scratch.size());
  }
  auto view = [&](const std::pair<std::size_t, std::size_t>& span) {
    return ByteView(scratch).subspan(span.first, span.second - span.first);
  };
  std::sort(spans.begin(), spans.end(), [&](const auto& a, const auto& b) { return encoding_less(view(a), view(b)); });
  if (equal == EqualElements::Folded) {
    const auto same = [&](const auto& a, const auto& b) { return std::ranges::equal(view(a), view(b)); };
    spans.erase(std::unique(spans.begin(), spans.end(), same), spans.end());
  }
  for (std::size_t i = 1; i < spans.size(); ++i) {
    if (!encoding_less(view(spans[i - 1]), view(spans[i]))) {
      return fail(CordError::custom_ser(CordError::of(CordErrorKind::DuplicateSetElement)));
    }
  }
  // The sorted scratch encodings are byte for byte what writing each
  // element again would produce.
  return s.write_newtype(kSetName, [&](CordSerializer inner) -> Status {
    Bytes& out = inner.output();
    // Room for the count too; a larger output than that grows as usual.
    const std::size_t needed = out.size() + sizeof(std::uint64_t) + 1 + scratch.size();
    if (needed > out.capacity()) out.reserve(std::max(needed, 2 * out.capacity()));
    if (auto st = inner.write_count(spans.size()); !st) return st;
    for (const auto& span : spans) inner.write_raw(view(span));
    return {};
  });
}

template <class T>
struct DefaultCodec<Set<T>> {
  static Status write(CordSerializer s, const Set<T>& set) {
    return write_set<T>(s, set, set.size(), EqualElements::Refused);
  }

  // Accepted only in canonical order.
  static Result<Set<T>> read(CordDeserializer& d) {
    Set<T> set;
    // Canonical order is often value order too (hashes, for one).
    auto take = [&](T&& element) { set.append_last(std::move(element)); };
    if (auto st = read_set_elements<T>(d, take, [](std::size_t) {}); !st) {
      return fail(std::move(st.error()));
    }
    return set;
  }
};

// Elements in any order, equal ones kept once, written as the Set holding
// them would be: for a writer that has them at hand and would build a Set
// only to write it. Write only.
template <class T>
struct SetOfElements {
  std::vector<T> elements;
};

template <class T>
struct DefaultCodec<SetOfElements<T>> {
  static Status write(CordSerializer s, const SetOfElements<T>& set) {
    return write_set<T>(s, set.elements, set.elements.size(), EqualElements::Folded);
  }
};

// The elements of a set in the order the wire holds them, its canonical
// order, for a reader that needs that order rather than lookups: decoding
// it neither sorts nor re-encodes. A writer that holds its elements in that
// order already writes them as they stand, with no set built of them.
template <class T>
struct SetInWireOrder {
  std::vector<T> elements;
};

template <class T>
struct DefaultCodec<SetInWireOrder<T>> {
  // Refused unless each element's encoding orders after its predecessor's.
  static Status write(CordSerializer s, const SetInWireOrder<T>& set) {
    return s.write_newtype(kSetName, [&](CordSerializer inner) -> Status {
      if (auto st = inner.write_count(set.elements.size()); !st) return st;
      Bytes& out = inner.output();
      std::size_t previous = out.size();
      for (std::size_t i = 0; i < set.elements.size(); ++i) {
        const std::size_t start = out.size();
        if (auto st = cord::write(CordSerializer(out), set.elements[i]); !st) {
          return fail(CordError::custom_ser(st.error()));
        }
        const ByteView written(out);
        if (i > 0 && !encoding_less(written.subspan(previous, start - previous), written.subspan(start))) {
          return fail(CordError::custom_ser(CordError::of(CordErrorKind::DuplicateSetElement)));
        }
        previous = start;
      }
      return {};
    });
  }

  static Result<SetInWireOrder<T>> read(CordDeserializer& d) {
    SetInWireOrder<T> set;
    auto take = [&](T&& element) { set.elements.push_back(std::move(element)); };
    if (auto st = read_set_elements<T>(d, take, [&](std::size_t n) { set.elements.reserve(n); }); !st) {
      return fail(std::move(st.error()));
    }
    return set;
  }
};

}  // namespace morvik::cord
