#pragma once

// Which current user a reference names, and which handle to show for a user
// or for the vault; answered from a validated state in memory.

#include <optional>
#include <string>

#include "core/ids.hpp"
#include "core/records.hpp"
#include "core/validate/state.hpp"
#include "crypto/provider.hpp"
#include "ops/error.hpp"
#include "ops/user_ref.hpp"

namespace morvik::ops {

struct ResolvedUserRef {
  core::UserId user_id;
  // Normalized; none when no live handle names the user.
  std::optional<std::string> handle;
};

// The live user a reference names: by handle (trimmed, lowered, then held to
// the handle rule) or by identifier bytes.
OpsResult<ResolvedUserRef> resolve_user_ref(const core::validate::EffectiveState& state,
                                            const crypto::Crypto& crypto, UserRef ref);

// The stored record of the user's primary handle, pointing into `state`: the
// smallest normalized handle (a prefix before its extensions), the smallest
// handle identifier among equal ones. None when no live handle names the user.
const core::UserHandleRecordV1* primary_handle_for_user(const core::validate::EffectiveState& state,
                                                        const core::UserId& user_id);

// The same over the vault's handles.
const core::VaultHandleRecordV1* primary_vault_handle(const core::validate::EffectiveState& state);

}  // namespace morvik::ops
