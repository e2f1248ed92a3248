#pragma once

// The user a vault is opened for: the one the caller names, else the
// keychain's current user of the vault, else the user of an invitation in the
// environment.

#include <optional>
#include <string_view>

#include "core/hash_value.hpp"
#include "core/validate/pipeline.hpp"
#include "crypto/provider.hpp"
#include "frontend/error.hpp"
#include "ops/principals.hpp"

namespace morvik::frontend {

struct CliUser {
  ops::ResolvedUserRef user;
  core::HashValue root;
  // Whether the caller named the user, rather than a default being taken.
  bool is_explicit = false;
};

// The live user a reference names. An abbreviated id (8 to 63 hexadecimal
// digits, no "@") must start the id of exactly one live user; anything else
// is a full id or a handle.
FrontendResult<ops::ResolvedUserRef> resolve_cli_user_ref_in_report(const core::validate::EffectiveState& state,
                                                                    const crypto::Crypto& crypto,
                                                                    std::string_view text);

// `text` when given, else the stored current user of the vault's root, else
// the user of the environment's invitation, resolved against the report.
FrontendResult<CliUser> resolve_cli_user_ref_with_report(const core::validate::ValidationReport& report,
                                                         const crypto::Crypto& crypto,
                                                         std::optional<std::string_view> text);

}  // namespace morvik::frontend
