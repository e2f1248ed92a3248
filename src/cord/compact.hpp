#pragma once

// Strings and byte strings that a decoded vault holds by the million: list
// elements and identifiers take four bytes of length on the wire and often
// little more, so in memory each is one word. Up to seven units live in the
// word itself; longer contents live in a heap block that starts with a count
// of its holders and their length. Contents never change once made, so a
// copy shares the block: an identifier held by a record, its slot, its
// state and its ratchet entry is one block.

#include <algorithm>
#include <atomic>
#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <new>
#include <ranges>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "cord/bytes.hpp"

namespace morvik::cord {

template <class Unit>
class CompactArray {
  static_assert(sizeof(Unit) == 1 && std::is_trivially_copyable_v<Unit>);
  // Inline units follow the tag byte, which must be the word's lowest.
  static_assert(std::endian::native == std::endian::little);

 public:
  using value_type = Unit;
  using size_type = std::size_t;
  using iterator = const Unit*;
  using const_iterator = const Unit*;

  CompactArray() noexcept = default;
  CompactArray(const Unit* units, std::size_t size) { assign(units, size); }
  template <std::forward_iterator It>
  CompactArray(It first, It last) {
    std::copy(first, last, allocate(static_cast<std::size_t>(std::distance(first, last))));
  }
  CompactArray(std::initializer_list<Unit> units) : CompactArray(units.begin(), units.size()) {}
  // Any contiguous run of units except a character array, whose terminator
  // would be taken for content.
  template <std::ranges::contiguous_range R>
    requires std::same_as<std::remove_cv_t<std::ranges::range_value_t<R>>, Unit> &&
             (!std::is_array_v<std::remove_cvref_t<R>>) && (!std::same_as<std::remove_cvref_t<R>, CompactArray>)
  CompactArray(const R& units) : CompactArray(std::ranges::data(units), std::ranges::size(units)) {}
  CompactArray(const char* text)
    requires std::same_as<Unit, char>
      : CompactArray(text, std::char_traits<char>::length(text)) {}

  CompactArray(const CompactArray& other) noexcept : word_(other.word_) { share(); }
  CompactArray(CompactArray&& other) noexcept : word_(std::exchange(other.word_, 0)) {}
  CompactArray& operator=(const CompactArray& other) noexcept {
    const std::uintptr_t word = other.word_;
    other.share();
    release();
    word_ = word;
    return *this;
  }
  CompactArray& operator=(CompactArray&& other) noexcept {
    if (this != &other) {
      release();
      word_ = std::exchange(other.word_, 0);
    }
    return *this;
  }
  ~CompactArray() { release(); }

  std::size_t size() const noexcept {
    if (is_inline()) return (word_ & 0xFF) >> 1;
    if (word_ == 0) return 0;
    return block()->size;
  }
  bool empty() const noexcept { return size() == 0; }

  const Unit* data() const noexcept {
    if (is_inline() || word_ == 0) return reinterpret_cast<const Unit*>(&word_) + 1;
    return reinterpret_cast<const Unit*>(block() + 1);
  }
  const_iterator begin() const noexcept { return data(); }
  const_iterator end() const noexcept { return data() + size(); }
  const Unit& operator[](std::size_t i) const noexcept { return data()[i]; }
  const Unit& at(std::size_t i) const {
    if (i >= size()) throw std::out_of_range("compact array index");
    return data()[i];
  }
  const Unit& front() const noexcept { return data()[0]; }
  const Unit& back() const noexcept { return data()[size() - 1]; }

  std::span<const Unit> units() const noexcept { return {data(), size()}; }
  operator std::span<const Unit>() const noexcept { return units(); }
  operator std::basic_string_view<Unit>() const noexcept
    requires std::same_as<Unit, char>
  {
    return {data(), size()};
  }
  std::string str() const
    requires std::same_as<Unit, char>
  {
    return std::string(data(), size());
  }
  explicit operator Bytes() const
    requires std::same_as<Unit, std::uint8_t>
  {
    return Bytes(begin(), end());
  }

  // Unit by unit as unsigned bytes, the shorter first on a common prefix:
  // the order of std::string and of a byte vector. Copies sharing one block
  // are equal without a look at their units.
  friend std::strong_ordering operator<=>(const CompactArray& a, const CompactArray& b) noexcept {
    if (a.word_ == b.word_) return std::strong_ordering::equal;
    return compare(a.units(), b.units());
  }
  friend bool operator==(const CompactArray& a, const CompactArray& b) noexcept {
    return a.word_ == b.word_ || (a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0);
  }
  friend bool operator==(const CompactArray& a, std::basic_string_view<Unit> b) noexcept
    requires std::same_as<Unit, char>
  {
    return std::basic_string_view<Unit>(a) == b;
  }

 private:
  static constexpr std::size_t kInlineCapacity = sizeof(std::uintptr_t) - 1;

  // What a heap block starts with; the units follow it.
  struct Block {
    std::atomic<std::uint32_t> holders;
    std::uint32_t size;
  };

  // 0: empty. Odd: inline, the low byte holding twice the size plus one.
  // Otherwise: the address of a Block.
  std::uintptr_t word_ = 0;

  bool is_inline() const noexcept { return (word_ & 1) != 0; }
  bool on_heap() const noexcept { return !is_inline() && word_ != 0; }
  Block* block() const noexcept { return reinterpret_cast<Block*>(word_); }

  static std::strong_ordering compare(std::span<const Unit> a, std::span<const Unit> b) noexcept {
    const std::size_t common = std::min(a.size(), b.size());
    if (const int c = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common); c != 0) {
      return c < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    return a.size() <=> b.size();
  }

  // Makes room for `size` units and returns where they go; the array is
  // empty before.
  Unit* allocate(std::size_t size) {
    if (size <= kInlineCapacity) {
      word_ = size == 0 ? 0 : (size << 1) | 1;
      return reinterpret_cast<Unit*>(&word_) + 1;
    }
    if (size > 0xFFFF'FFFFu) throw std::length_error("compact array too long");
    void* memory = ::operator new(sizeof(Block) + size);
    Block* made = ::new (memory) Block{{1}, static_cast<std::uint32_t>(size)};
    word_ = reinterpret_cast<std::uintptr_t>(made);
    return reinterpret_cast<Unit*>(made + 1);
  }
  void assign(const Unit* units, std::size_t size) {
    Unit* into = allocate(size);
    if (size != 0) std::memcpy(into, units, size);
  }
  void share() const noexcept {
    if (on_heap()) block()->holders.fetch_add(1, std::memory_order_relaxed);
  }
  void release() noexcept {
    if (on_heap() && block()->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      block()->~Block();
      ::operator delete(reinterpret_cast<void*>(word_));
    }
    word_ = 0;
  }
};

// A UTF-8 text in NFC, as std::string holds the others.
using CompactText = CompactArray<char>;
// A byte string, as Bytes holds the others.
using CompactBytes = CompactArray<std::uint8_t>;

}  // namespace morvik::cord
