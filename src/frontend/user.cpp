#include "frontend/user.hpp"

#include <algorithm>

#include "core/handles.hpp"
#include "frontend/render.hpp"
#include "keychain/files.hpp"
#include "keychain/unlock.hpp"
#include "ops/error.hpp"

namespace morvik::frontend {
namespace {

constexpr std::size_t kUserIdBytes = 32;
constexpr std::size_t kMinPrefixDigits = 8;

// 0 to 15, or -1 for a character that is not a hexadecimal digit.
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Only a lowercase x makes the prefix; "0X" is left in place.
std::string_view without_0x(std::string_view text) {
  return text.starts_with("0x") ? text.substr(2) : text;
}

}  // namespace

FrontendResult<ops::UserRef> parse_user_ref(std::string_view text) {
  if (text.starts_with('@')) {
    auto handle = parse_handle_name(text.substr(1));
    if (!handle) return fail(std::move(handle.error()));
    return ops::user_ref::Handle{std::move(*handle)};
  }
  // Whatever is not a full id is a handle; why the digits failed is dropped.
  if (auto bytes = decode_hex(text, "user ID"); bytes && bytes->size() == kUserIdBytes) {
    return ops::user_ref::Id{std::move(*bytes)};
  }
  auto handle = parse_handle_name(text);
  if (!handle) return fail(std::move(handle.error()));
  return ops::user_ref::Handle{std::move(*handle)};
}

FrontendResult<std::string> parse_handle_name(std::string_view text) {
  std::string handle = core::normalize_handle(text.starts_with('@') ? text.substr(1) : text);
  if (!core::is_valid_handle(handle)) return fail(FrontendError::InvalidUserHandle{std::string(text), ops::kHandleRule});
  return handle;
}

std::optional<std::string> normalize_hex_prefix(std::string_view text) {
  const std::string_view digits = without_0x(text);
  if (digits.size() < kMinPrefixDigits) return std::nullopt;
  if (!std::ranges::all_of(digits, [](char c) { return hex_value(c) >= 0; })) return std::nullopt;
  std::string prefix(digits);
  for (char& c : prefix) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return prefix;
}

FrontendResult<cord::Bytes> decode_hex(std::string_view text, std::string_view what) {
  const std::string_view digits = without_0x(text);
  if (digits.size() % 2 != 0) return fail(FrontendError::InvalidHex{what, "odd length"});
  cord::Bytes bytes;
  bytes.reserve(digits.size() / 2);
  for (std::size_t at = 0; at < digits.size(); at += 2) {
    const int high = hex_value(digits[at]);
    const int low = hex_value(digits[at + 1]);
    if (high < 0 || low < 0) return fail(FrontendError::InvalidHex{what, "non-hex character"});
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return bytes;
}

FrontendResult<std::optional<std::string>> stored_default_user(const core::HashValue& root) {
  auto base = keychain::default_keychain_dir();
  if (!base) return fail(std::move(base.error()));
  auto current = keychain::read_current_user(*base, root);
  if (!current) return fail(std::move(current.error()));
  if (!*current) return std::nullopt;
  return render::hex_bytes((*current)->user.hash.bytes);
}

}  // namespace morvik::frontend
