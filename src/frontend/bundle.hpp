#pragma once

// The text form of an invitation: a Bech32m (or Bech32) string with the
// human-readable prefix "mrvk" whose data is the invitation's canonical
// encoding, without the binary form's magic.

#include <cstddef>
#include <string_view>

#include "crypto/secret.hpp"
#include "frontend/error.hpp"

namespace morvik::frontend::bundle {

inline constexpr std::string_view kInvitePrefix = "mrvk";
// Counted after trimming.
inline constexpr std::size_t kMaxInviteTextLength = 1023;

// The payload of an invitation string, Unicode white space at both ends
// ignored. A string over the length limit, or one the Bech32 codec refuses,
// is MalformedInvitation. Only a string whose checksum passed is then
// refused for its prefix, with WrongInvitationPrefix carrying the prefix as
// written: the comparison is case-sensitive, so an upper-case invitation is
// refused with the prefix "MRVK".
FrontendResult<crypto::SecretBytes> decode(std::string_view text);

}  // namespace morvik::frontend::bundle
