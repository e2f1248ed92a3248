#pragma once

// The trust root of a vault: the key hash of the signing key of its
// self-signed root record. It names the per-root state directory and is
// what the ratchet, the journals and invitations are bound to.

#include "core/hash_value.hpp"
#include "core/records.hpp"
#include "core/validate/pipeline.hpp"
#include "core/vault_file/record_set.hpp"
#include "crypto/provider.hpp"
#include "ops/error.hpp"

namespace morvik::ops {

// The one signing key that signs a root record whose root user derives from
// that key and the record's encryption key, and whose signature verifies.
// Depends on the record set alone. None: NoSelfSignedRoot; several keys:
// MultipleSelfSignedRoots, ascending. Takes no lock.
OpsResult<core::HashValue> trusted_root_candidate(const core::VaultStore& vault, const crypto::Crypto& crypto);
OpsResult<core::HashValue> trusted_root_candidate(const core::validate::RecordSet& vault,
                                                  const crypto::Crypto& crypto);

// Whether validation met a key whose counter the ratchet remembers above
// what the vault holds: a vault that went back in time.
bool has_suspected_rollback(const core::validate::ValidationReport& report);

}  // namespace morvik::ops
