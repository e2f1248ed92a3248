#include "core/recipient_slots.hpp"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace morvik::core {
namespace {

// A length or count of a checked encoding: four bytes, big-endian.
std::uint32_t u32_at(const std::uint8_t* at) noexcept {
  return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 | std::uint32_t{at[3]};
}

// The byte string that starts at `at`, which then points past it.
cord::ByteView take_byte_string(const std::uint8_t*& at) noexcept {
  const std::uint32_t size = u32_at(at);
  const cord::ByteView bytes(at + 4, size);
  at += 4 + std::size_t{size};
  return bytes;
}

// Bytewise, the shorter first on a common prefix: the order of CompactBytes.
std::strong_ordering compare_bytes(cord::ByteView a, cord::ByteView b) noexcept {
  return std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

bool RecipientSlotView::names(const UserId& user) const noexcept {
  return std::ranges::equal(reader, user.hash.bytes.units());
}

bool operator==(const RecipientSlotView& a, const RecipientSlotView& b) noexcept {
  return std::ranges::equal(a.reader, b.reader) && std::ranges::equal(a.encapsulated_key, b.encapsulated_key) &&
         std::ranges::equal(a.wrapped_key, b.wrapped_key);
}

std::strong_ordering operator<=>(const RecipientSlotView& a, const RecipientSlotView& b) noexcept {
  if (const auto c = compare_bytes(a.reader, b.reader); c != 0) return c;
  if (const auto c = compare_bytes(a.encapsulated_key, b.encapsulated_key); c != 0) return c;
  return compare_bytes(a.wrapped_key, b.wrapped_key);
}

RecipientSlots::Iterator::Iterator(const std::uint8_t* at, const std::uint8_t* end) noexcept
    : at_(at), end_(end), next_(at) {
  if (at_ == end_) return;
  slot_.reader = take_byte_string(next_);
  slot_.encapsulated_key = take_byte_string(next_);
  slot_.wrapped_key = take_byte_string(next_);
}

RecipientSlots::Iterator& RecipientSlots::Iterator::operator++() noexcept {
  *this = Iterator(next_, end_);
  return *this;
}

RecipientSlots::RecipientSlots(std::span<const RecipientSlotV1> slots) {
  if (slots.empty()) return;
  cord::Bytes encoding;
  const cord::CordSerializer s(encoding);
  // Fails only for a list or a field beyond four-byte lengths, which no
  // memory holds.
  if (!s.write_count(slots.size())) throw std::length_error("recipient slot list too long");
  for (const RecipientSlotV1& slot : slots) {
    if (!cord::write(s.fresh(), slot)) throw std::length_error("recipient slot too long");
  }
  encoding_ = cord::CompactBytes(encoding);
  duplicate_reader_ = names_a_reader_twice();
}

RecipientSlots::RecipientSlots(cord::ByteView checked_encoding) {
  if (u32_at(checked_encoding.data()) == 0) return;
  encoding_ = cord::CompactBytes(checked_encoding);
  duplicate_reader_ = names_a_reader_twice();
}

std::size_t RecipientSlots::size() const noexcept { return empty() ? 0 : u32_at(encoding_.data()); }

RecipientSlots::Iterator RecipientSlots::begin() const noexcept {
  if (empty()) return {};
  return Iterator(encoding_.data() + 4, encoding_.end());
}

RecipientSlots::Iterator RecipientSlots::end() const noexcept {
  if (empty()) return {};
  return Iterator(encoding_.end(), encoding_.end());
}

bool RecipientSlots::names_a_reader_twice() const {
  // Sealing writes the readers in ascending order: then one pass shows them
  // distinct, without a copy.
  std::optional<cord::ByteView> previous;
  bool ascending = true;
  for (const RecipientSlotView& slot : *this) {
    if (previous && compare_bytes(*previous, slot.reader) >= 0) {
      ascending = false;
      break;
    }
    previous = slot.reader;
  }
  if (ascending) return false;
  std::vector<cord::ByteView> readers;
  readers.reserve(size());
  for (const RecipientSlotView& slot : *this) readers.push_back(slot.reader);
  std::ranges::sort(readers, [](cord::ByteView a, cord::ByteView b) { return compare_bytes(a, b) < 0; });
  return std::ranges::adjacent_find(readers, [](cord::ByteView a, cord::ByteView b) {
           return std::ranges::equal(a, b);
         }) != readers.end();
}

cord::Status RecipientSlots::write(cord::CordSerializer s) const {
  if (empty()) return s.write_count(0);
  s.write_raw(encoding_);
  return {};
}

cord::Result<RecipientSlots> RecipientSlots::read(cord::CordDeserializer& d) {
  const cord::ByteView before = d.remaining();
  if (auto checked = cord::check<std::vector<RecipientSlotV1>>(d); !checked) return cord::fail(std::move(checked.error()));
  return RecipientSlots(before.first(before.size() - d.remaining().size()));
}

std::strong_ordering operator<=>(const RecipientSlots& a, const RecipientSlots& b) noexcept {
  if (a == b) return std::strong_ordering::equal;
  return std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace morvik::core
