#pragma once

// The first use of a vault on a machine through an invitation: the
// invitation names the vault's trust root and may carry a rollback baseline,
// from which the root's ratchet file is created, so that a vault rolled back
// behind the baseline is refused from the first open.

#include <vector>

#include "core/hash_value.hpp"
#include "core/invitations.hpp"
#include "core/ratchet/ratchet.hpp"
#include "core/ratchet_records.hpp"
#include "crypto/provider.hpp"
#include "ops/error.hpp"
#include "ops/session.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::ops {

// A ratchet of `root` holding exactly the baseline's facts, folded in list
// order.
core::ratchet::Ratchet seed_ratchet_from_baseline(const core::HashValue& root,
                                                  const std::vector<core::RatchetRecordV1>& baseline);

// Makes sure the invitation's root has a ratchet file. An existing one is
// left byte for byte as it is; otherwise the vault must validate cleanly
// against the baseline and count the invited user among its members before
// the baseline, raised by that validation, is written.
OpsResult<void> ensure_ratchet_from_invite(const store::WorkspacePaths& paths, const crypto::Crypto& crypto,
                                           core::InvitationMaterial material);

// The invitation road up to the session: the ratchet made sure of, then
// the vault loaded as a vault of the invitation's root only. The file is
// read anew by the load; one swapped meanwhile for a vault of another root
// is refused with InviteRootMismatch.
OpsResult<LockedSession> load_with_invite(const store::WorkspacePaths& paths, const crypto::Crypto& crypto,
                                          core::InvitationMaterial material);

}  // namespace morvik::ops
