#pragma once

#include <string_view>
#include <utility>

#include "cord/wire.hpp"

namespace morvik::cord {

// Writes items of the data model to an output it does not own. It is a small
// value handed to each item, so a pending hint reaches exactly that item.
class CordSerializer {
 public:
  explicit CordSerializer(Bytes& output, EncodingHint hint = EncodingHint::None) : output_(&output), hint_(hint) {}

  Bytes& output() const { return *output_; }
  EncodingHint hint() const { return hint_; }
  // A serializer over the same output with no hint: for fields, elements and
  // variant payloads.
  CordSerializer fresh() const { return CordSerializer(*output_); }

  Status write_u8(std::uint8_t value) const;
  Status write_u32(std::uint32_t value) const;
  Status write_u64(std::uint64_t value) const;
  Status write_string(std::string_view text) const;
  // A byte vector: count, then the bytes as they stand.
  Status write_bytes(ByteView bytes) const;
  // The count that opens a sequence.
  Status write_count(std::uint64_t count) const;
  Status write_variant_index(std::uint32_t index) const;
  // Appends bytes verbatim (an evolving payload held as bytes).
  void write_raw(ByteView bytes) const;

  // Writes a newtype: reserved names select a hint or the evolving format,
  // any other name is transparent. `inner` takes a CordSerializer and
  // returns a Status.
  template <class F>
  Status write_newtype(std::string_view name, F&& inner) const {
    if (auto width = evolving_width(name)) {
      if (hint_ != EncodingHint::None) return fail(CordErrorKind::ConflictingHints);
      // The payload goes straight to the output, after room for its length,
      // which is filled in once known. A failure takes back what it wrote.
      const std::size_t at = output_->size();
      const std::size_t room = byte_count(*width);
      output_->resize(at + room);
      auto st = std::forward<F>(inner)(CordSerializer(*output_));
      if (st) st = wire::write_length_at(*output_, at, output_->size() - at - room, *width);
      if (!st) output_->resize(at);
      return st;
    }
    if (auto hint = hint_of_name(name)) {
      if (hint_ != EncodingHint::None) return fail(CordErrorKind::ConflictingHints);
      return std::forward<F>(inner)(CordSerializer(*output_, *hint));
    }
    return std::forward<F>(inner)(*this);
  }

 private:
  Bytes* output_;
  EncodingHint hint_;
};

}  // namespace morvik::cord
