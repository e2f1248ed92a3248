#pragma once

// Opening a vault: the workspace a path names, and the three roads to an
// unlocked session (the keychain, invitation material given directly, and
// invitation material named by environment variables). Nothing here touches
// a Python object; failures are exception descriptions.

#include <optional>
#include <string_view>

#include "ops/session.hpp"
#include "python/auth_inner.hpp"
#include "python/exceptions.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::python {

using OpenResult = Outcome<ops::UnlockedSession>;

// Shown in the passphrase prompt of every unlock this module makes.
inline constexpr std::string_view kKeyUsePurpose = "use this identity from the Morvik Python SDK";

// The workspace of the dot-directory `path` (its vault file "vault.cord"),
// a relative path taken from the current directory once and for all.
store::WorkspacePaths workspace_paths(std::string_view path);

// The unlocked session of the workspace, by the road `auth` names.
OpenResult open_session(const store::WorkspacePaths& paths, const AuthInner& auth);

// The invitation road: the ratchet seeded from the invitation when the
// machine has none for its root, then the vault loaded and bound to the
// invitation's identity.
OpenResult open_with_invite(const store::WorkspacePaths& paths, const InviteInput& input);

// ConflictError when the session's state holds unresolved conflicts.
std::optional<ExceptionDescription> conflict_refusal(const ops::UnlockedSession& session);

}  // namespace morvik::python
