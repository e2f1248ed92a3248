#pragma once

// A secret's recipient slots as a vault holds them by the hundred thousand:
// the list's encoding, checked once when read and kept in one shared block,
// each slot read from it when it is looked at. Decoded one by one, a slot
// took two heap blocks and an identifier.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <span>
#include <utility>
#include <vector>

#include "core/ids.hpp"
#include "cord/check.hpp"
#include "cord/cord.hpp"

namespace morvik::core {

// One reader's copy of the content key, sealed to the reader's encryption key.
struct RecipientSlotV1 {
  UserId reader;
  cord::CompactBytes encapsulated_key;
  cord::CompactBytes wrapped_key;

  static constexpr auto cord_fields() {
    return std::tuple{&RecipientSlotV1::reader, &RecipientSlotV1::encapsulated_key, &RecipientSlotV1::wrapped_key};
  }
  auto operator<=>(const RecipientSlotV1&) const = default;
};

// One slot of a RecipientSlots, its fields viewed where the list holds them:
// valid while the list is. Ordered as RecipientSlotV1 is.
struct RecipientSlotView {
  cord::ByteView reader;  // the bytes of the reader's UserId
  cord::ByteView encapsulated_key;
  cord::ByteView wrapped_key;

  // Whether the slot is `user`'s: same length and bytes.
  bool names(const UserId& user) const noexcept;

  friend bool operator==(const RecipientSlotView& a, const RecipientSlotView& b) noexcept;
  friend std::strong_ordering operator<=>(const RecipientSlotView& a, const RecipientSlotView& b) noexcept;
};

// The list of a sealed payload's slots, in stored order. Same wire form,
// errors and order as a std::vector<RecipientSlotV1>; copies share the block.
// Whether a reader is named twice is found once, while the bytes are at hand:
// every validation asks it of every secret, and reading the slots again then
// waits on memory.
class RecipientSlots {
 public:
  class Iterator {
   public:
    using iterator_concept = std::forward_iterator_tag;
    using iterator_category = std::forward_iterator_tag;
    using value_type = RecipientSlotView;
    using difference_type = std::ptrdiff_t;
    using reference = const RecipientSlotView&;
    using pointer = const RecipientSlotView*;

    Iterator() noexcept = default;
    reference operator*() const noexcept { return slot_; }
    pointer operator->() const noexcept { return &slot_; }
    Iterator& operator++() noexcept;
    Iterator operator++(int) noexcept {
      Iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) noexcept { return a.at_ == b.at_; }

   private:
    friend class RecipientSlots;
    Iterator(const std::uint8_t* at, const std::uint8_t* end) noexcept;

    const std::uint8_t* at_ = nullptr;  // where the current slot starts
    const std::uint8_t* end_ = nullptr;
    const std::uint8_t* next_ = nullptr;  // where the one after it starts
    RecipientSlotView slot_;
  };

  RecipientSlots() noexcept = default;
  RecipientSlots(const RecipientSlots&) noexcept = default;
  RecipientSlots& operator=(const RecipientSlots&) noexcept = default;
  RecipientSlots(RecipientSlots&& other) noexcept
      : encoding_(std::move(other.encoding_)), duplicate_reader_(std::exchange(other.duplicate_reader_, false)) {}
  RecipientSlots& operator=(RecipientSlots&& other) noexcept {
    encoding_ = std::move(other.encoding_);
    duplicate_reader_ = std::exchange(other.duplicate_reader_, false);
    return *this;
  }
  explicit RecipientSlots(std::span<const RecipientSlotV1> slots);
  RecipientSlots(std::initializer_list<RecipientSlotV1> slots)
      : RecipientSlots(std::span<const RecipientSlotV1>(slots.begin(), slots.size())) {}

  std::size_t size() const noexcept;
  bool empty() const noexcept { return encoding_.empty(); }
  Iterator begin() const noexcept;
  Iterator end() const noexcept;

  // Whether two slots name the same reader.
  bool has_duplicate_reader() const noexcept { return duplicate_reader_; }

  cord::Status write(cord::CordSerializer s) const;
  // Reads, tests and fails exactly as reading a std::vector<RecipientSlotV1>.
  static cord::Result<RecipientSlots> read(cord::CordDeserializer& d);

  // The encoding is canonical: equal lists are equal bytes.
  friend bool operator==(const RecipientSlots& a, const RecipientSlots& b) noexcept {
    return a.encoding_ == b.encoding_;
  }
  friend std::strong_ordering operator<=>(const RecipientSlots& a, const RecipientSlots& b) noexcept;

 private:
  // Empty when there is no slot, else the list's encoding: the four-byte
  // count, then each slot's three byte strings.
  cord::CompactBytes encoding_;
  bool duplicate_reader_ = false;

  explicit RecipientSlots(cord::ByteView checked_encoding);
  bool names_a_reader_twice() const;
};

}  // namespace morvik::core

template <>
struct morvik::cord::Codec<morvik::core::RecipientSlots> {
  static Status write(CordSerializer s, const morvik::core::RecipientSlots& slots) { return slots.write(s); }
  static Result<morvik::core::RecipientSlots> read(CordDeserializer& d) {
    return morvik::core::RecipientSlots::read(d);
  }
};

template <>
struct morvik::cord::Check<morvik::core::RecipientSlots> : Check<std::vector<morvik::core::RecipientSlotV1>> {};

template <>
struct morvik::cord::EncodedFloor<morvik::core::RecipientSlots>
    : EncodedFloor<std::vector<morvik::core::RecipientSlotV1>> {};
