#pragma once

// The user-reference syntax: a handle, with or without a leading "@", or a
// user id as 64 hexadecimal digits, with or without "0x". A handle that
// could be read as hexadecimal needs the "@". Abbreviated ids (8 to 63
// digits) are recognised here and looked up against the vault's users by the
// caller.

#include <optional>
#include <string>
#include <string_view>

#include "core/hash_value.hpp"
#include "cord/wire.hpp"
#include "frontend/error.hpp"
#include "ops/user_ref.hpp"

namespace morvik::frontend {

// "@alice", "alice" and " Alice " name the handle alice; 64 hexadecimal
// digits (after an optional lowercase "0x") are an id; anything else is read
// as a handle and fails as one.
FrontendResult<ops::UserRef> parse_user_ref(std::string_view text);

// The normalised handle (one leading "@" dropped, white space trimmed, ASCII
// lowered), or InvalidUserHandle with the text as received.
FrontendResult<std::string> parse_handle_name(std::string_view text);

// The lowercased digits of an id prefix: at least 8 hexadecimal digits of
// either case after an optional lowercase "0x", and nothing else. No upper
// bound: the caller tells a full id from a prefix.
std::optional<std::string> normalize_hex_prefix(std::string_view text);

// Bytes from hexadecimal digits of either case, after an optional lowercase
// "0x". `what` names the value in the error ("user ID").
FrontendResult<cord::Bytes> decode_hex(std::string_view text, std::string_view what);

// The current user the keychain stores for `root`, as 64 lowercase
// hexadecimal digits; none when no current user is stored. Reading it may
// migrate an older keychain layout of the root.
FrontendResult<std::optional<std::string>> stored_default_user(const core::HashValue& root);

}  // namespace morvik::frontend
