#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "cord/wire.hpp"

namespace morvik::cord {

// Reads items of the data model from a borrowed input. Every read takes
// bytes from the front; after a failure the deserializer is not used again.
class CordDeserializer {
 public:
  explicit CordDeserializer(ByteView input) : input_(input) {}

  ByteView remaining() const { return input_; }
  EncodingHint hint() const { return hint_; }
  void reset_hint() { hint_ = EncodingHint::None; }
  std::uint64_t depth() const { return depth_; }

  // Raw reads.
  Result<ByteView> read_bytes(std::uint64_t count);
  Result<std::uint64_t> parse_length() { return parse_length(kMaxLength); }
  // A length bounded by a limit other than the usual one; only for the few
  // fields whose owner admits more.
  Result<std::uint64_t> parse_length(std::uint64_t maximum);
  Result<std::string_view> parse_string();
  Result<std::uint32_t> parse_variant_index();
  Result<std::uint8_t> next();

  // Items.
  Result<std::uint8_t> read_u8();
  Result<std::uint32_t> read_u32();
  Result<std::uint64_t> read_u64();
  Result<std::string> read_string();

  // One nesting level around a construct: fails past the depth limit.
  Status enter();
  void leave() { --depth_; }

  // Runs `body` (returning a Result or Status) inside one nesting level.
  template <class F>
  auto nested(F&& body) -> decltype(body()) {
    if (auto st = enter(); !st) return fail(std::move(st.error()));
    auto result = std::forward<F>(body)();
    if (result) leave();
    return result;
  }

  // Sets the hint for a width or varint wrapper name (refused while another
  // hint is pending); every other name leaves the hint as it is.
  Status apply_wrapper_name(std::string_view name);

  // The payload of an evolving value whose length prefix has `width`.
  Result<ByteView> read_evolving_payload(Width width);

 private:
  ByteView input_;
  std::uint64_t depth_ = 0;
  EncodingHint hint_ = EncodingHint::None;

  EncodingHint take_hint() { return std::exchange(hint_, EncodingHint::None); }
};

inline constexpr std::string_view kConflictingSentinels =
    "Conflicting sentinel nesting: cannot combine width/varint wrappers";

}  // namespace morvik::cord
