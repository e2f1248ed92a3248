#pragma once

// The one canonical shape of every stored selector and permission, so that
// equal meanings have equal encodings and the matching rules never meet a
// malformed list. Each check stops at its first finding.

#include "core/errors.hpp"
#include "core/selectors.hpp"
#include "core/validate/issues.hpp"

namespace morvik::core::authz {

using validate::CheckResult;
using validate::ValidationIssue;

CheckResult validate_secret_selector(const SecretSelectorV1& selector);
CheckResult validate_keyspace_selector(const KeyspaceSelectorV1& keyspace);
CheckResult validate_permission(const GrantPermissionV1& permission);

// An error met while deriving an identifier, as the issue of the record.
ValidationIssue to_issue(CoreError error);

}  // namespace morvik::core::authz
