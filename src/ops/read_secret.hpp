#pragma once

// Reading a secret for an unlocked identity, entirely from a validated
// state in memory: no file is read and no lock is taken.

#include "core/records.hpp"
#include "core/selectors.hpp"
#include "core/validate/state.hpp"
#include "crypto/identity.hpp"
#include "crypto/provider.hpp"
#include "ops/error.hpp"
#include "ops/plaintext.hpp"

namespace morvik::ops {

// Whether the identity may read the secret, then its value.
OpsResult<SecretPlaintext> get_secret(const core::validate::EffectiveState& state, const crypto::Crypto& crypto,
                                      const crypto::Identity& identity, core::SecretSelectorV1 selector);

// The read after the access check: the current record and the vault's
// root, then the decryption.
OpsResult<SecretPlaintext> decrypt_secret_from_report(const core::validate::EffectiveState& state,
                                                      const crypto::Crypto& crypto, const crypto::Identity& identity,
                                                      const core::SecretSelectorV1& selector);

// Opens the identity's recipient slot of `secret` (the body of `record`),
// then the content.
OpsResult<SecretPlaintext> decrypt_secret_record(const crypto::Identity& identity, const core::VaultRecordV1& record,
                                                 const core::SecretRecordV1& secret, cord::ByteView vault_root_id);

}  // namespace morvik::ops
