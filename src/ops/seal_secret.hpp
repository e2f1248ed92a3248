#pragma once

// Building the one record that every secret write ends in: its counter, the
// value sealed to every current reader, the signature, the record hash. It
// works on the caller's working copy of the record set and touches no file.

#include <cstdint>

#include "core/hash_value.hpp"
#include "core/records.hpp"
#include "core/selectors.hpp"
#include "core/validate/state.hpp"
#include "core/vault_file/record_set.hpp"
#include "crypto/identity.hpp"
#include "crypto/provider.hpp"
#include "ops/binding.hpp"
#include "ops/error.hpp"

namespace morvik::ops {

// The counter of a new record: above every counter the vault admits and
// above every counter a rollback conflict remembers. OpsError::CounterExhausted
// above 2^62.
OpsResult<std::uint64_t> next_record_counter(const core::validate::EffectiveState& state);

// Seals the current envelope of `value` to every current reader of the
// context's selector.
OpsResult<core::SealedPayloadV1> seal_secret_payload(const core::validate::EffectiveState& state,
                                                     const SecretAadContext& context, const core::SecretValueV1& value);

// The same for a plaintext already laid out: what seal_secret_payload
// encrypts once the envelope is written.
OpsResult<core::SealedPayloadV1> seal_plaintext_payload(const core::validate::EffectiveState& state,
                                                        const SecretAadContext& context, cord::ByteView plaintext);

struct SetSecretOutput {
  core::SecretId secret_id;
  core::SecretSelectorV1 selector;
  core::SealedPayloadV1 payload;
};

struct DeleteSecretOutput {
  core::SecretId secret_id;
  core::SecretSelectorV1 selector;
};

// What a record-building step hands back: its output and the hash of the
// record it appended.
template <class Output>
struct BuiltRecord {
  Output output;
  core::HashValue record_hash;
};

// A record built and not yet appended: what a caller adding many records at
// once hands to RecordSet::append_records.
template <class Output>
struct SealedRecord {
  core::validate::AddedRecord record;
  Output output;
};

// Seals `value` and signs a Secret record with the identity.
OpsResult<SealedRecord<SetSecretOutput>> seal_secret_value(const core::validate::EffectiveState& state,
                                                          const crypto::Crypto& crypto,
                                                          const crypto::Identity& identity,
                                                          const core::SecretSelectorV1& selector,
                                                          const core::SecretValueV1& value);

// The same, appended to `records`. On failure `records` is unchanged.
OpsResult<BuiltRecord<SetSecretOutput>> append_secret_value(core::validate::RecordSet& records,
                                                            const core::validate::EffectiveState& state,
                                                            const crypto::Crypto& crypto,
                                                            const crypto::Identity& identity,
                                                            const core::SecretSelectorV1& selector,
                                                            const core::SecretValueV1& value);

// Signs a SecretDeleted record with the identity and appends it to
// `records`. On failure `records` is unchanged.
OpsResult<BuiltRecord<DeleteSecretOutput>> append_secret_deletion(core::validate::RecordSet& records,
                                                                  const core::validate::EffectiveState& state,
                                                                  const crypto::Crypto& crypto,
                                                                  const crypto::Identity& identity,
                                                                  const core::SecretSelectorV1& selector);

// Whether the user may write the selector in this state; judged before the
// write takes its locks.
OpsResult<void> ensure_secret_writable(const core::validate::EffectiveState& state,
                                       const core::SecretSelectorV1& selector, const core::UserId& user_id);

}  // namespace morvik::ops
