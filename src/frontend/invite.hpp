#pragma once

// Invitations as a process receives them: the binary form (a magic, then the
// canonical encoding of an Invite), the text form (see bundle.hpp), and the
// two environment variables through which an unattended process is given
// one.

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/ids.hpp"
#include "core/invitations.hpp"
#include "cord/wire.hpp"
#include "crypto/provider.hpp"
#include "frontend/error.hpp"
#include "store/path.hpp"

namespace morvik::frontend {

// "morvik-invite" and a zero byte.
inline constexpr std::string_view kInviteMagic{"morvik-invite\0", 14};
// 256 MiB and 1 MiB.
inline constexpr std::uint64_t kMaxInviteFileBytes = 269'484'032;

inline constexpr const char* kInviteEnv = "MORVIK_UNSAFE_INVITE";
inline constexpr const char* kInviteFileEnv = "MORVIK_UNSAFE_INVITE_FILE";

// A binary invitation: MalformedInvitation without the magic, Cord when the
// rest is not exactly one canonical Invite.
FrontendResult<core::InvitationMaterial> decode_invite_bytes(cord::ByteView bytes);

// Exactly one of an invitation string and the path of a binary invitation
// file, else InviteFormConflict. A file that cannot be read (missing, a
// symbolic link, not a regular file, over kMaxInviteFileBytes) is IoAt.
FrontendResult<core::InvitationMaterial> read_invite(std::optional<std::string_view> text,
                                                     const std::optional<store::Path>& path);

// The invitation named by MORVIK_UNSAFE_INVITE (a string, which must be
// UTF-8, checked before anything else) or MORVIK_UNSAFE_INVITE_FILE (a path,
// any bytes); none when neither is set, InviteFormConflict when both are. A
// variable set to the empty string counts as set.
FrontendResult<std::optional<core::InvitationMaterial>> ci_invite();

// The user whose identity the invitation of the environment carries; none
// without one. The vault's trusted root is not compared here.
FrontendResult<std::optional<core::UserId>> ci_identity_user(const crypto::Crypto& crypto);

}  // namespace morvik::frontend
