#include "ops/read_secret.hpp"

#include <algorithm>

#include "crypto/content.hpp"
#include "crypto/key_wrap.hpp"
#include "ops/binding.hpp"
#include "ops/envelope.hpp"

namespace morvik::ops {

using core::validate::SecretAccess;

OpsResult<SecretPlaintext> get_secret(const core::validate::EffectiveState& state, const crypto::Crypto& crypto,
                                      const crypto::Identity& identity, core::SecretSelectorV1 selector) {
  switch (const auto access = state.classify_secret_for_user(selector, identity.user_id, crypto)) {
    case SecretAccess::ActiveDecryptable:
      return decrypt_secret_from_report(state, crypto, identity, selector);
    case SecretAccess::Conflicted:
      return fail(OpsError::SecretConflicted{});
    case SecretAccess::Missing:
      return fail(OpsError::SecretMissing{});
    case SecretAccess::NotEncryptedForReader:
    case SecretAccess::Unauthorized:
    case SecretAccess::Invalid:
      return fail(OpsError::SecretNotDecryptable{access});
  }
  return fail(OpsError::SecretNotDecryptable{SecretAccess::Invalid});
}

OpsResult<SecretPlaintext> decrypt_secret_from_report(const core::validate::EffectiveState& state,
                                                      const crypto::Crypto& crypto, const crypto::Identity& identity,
                                                      const core::SecretSelectorV1& selector) {
  // The record is read where the state holds it, not copied.
  auto live = state.unconflicted_live_secret(selector, crypto);
  if (!live) return fail(std::move(live.error()));
  if (!*live) return fail(OpsError::SecretMissing{});
  const auto& secret = std::get<core::SecretRecordV1>(*(*live)->body);
  if (!state.trusted_root) return fail(OpsError::MissingEffectiveRoot{});
  return decrypt_secret_record(identity, *(*live)->record, secret, state.trusted_root->bytes);
}

OpsResult<SecretPlaintext> decrypt_secret_record(const crypto::Identity& identity, const core::VaultRecordV1& record,
                                                 const core::SecretRecordV1& secret, cord::ByteView vault_root_id) {
  const auto& payload = secret.payload;
  const auto slot = std::ranges::find_if(payload.recipient_slots,
                                         [&](const core::RecipientSlotView& s) { return s.names(identity.user_id); });
  if (slot == payload.recipient_slots.end()) return fail(OpsError::RecipientSlotMissing{identity.user_id});

  auto binding =
      recipient_slot_binding_bytes(vault_root_id, secret.secret_id.hash.bytes, secret.selector, slot->reader);
  if (!binding) return fail(std::move(binding.error()));
  auto content_key = crypto::unwrap_content_key(identity.encryption_keypair, slot->encapsulated_key,
                                                *binding, *binding, slot->wrapped_key);
  if (!content_key) return fail(std::move(content_key.error()));

  auto nonce = crypto::ContentNonce::from_bytes(payload.nonce);
  if (!nonce) return fail(std::move(nonce.error()));
  const core::RecordKey record_key = core::record_key::Secret{secret.secret_id};
  auto associated_data = secret_content_aad_bytes(
      vault_root_id,
      SecretAadContext{record_key, record.signing_public_key, secret.secret_id, secret.selector, secret.counter},
      payload.nonce, payload.recipient_slots);
  if (!associated_data) return fail(std::move(associated_data.error()));
  auto plaintext = crypto::open_content(*content_key, *nonce, *associated_data, payload.ciphertext);
  if (!plaintext) return fail(std::move(plaintext.error()));

  auto content = classify_plaintext(std::move(*plaintext));
  if (!content) return fail(std::move(content.error()));
  if (auto* raw = std::get_if<crypto::SecretBytes>(&*content)) {
    return SecretPlaintext{secret.selector, std::move(*raw), {}};
  }
  return SecretPlaintext::from_value(secret.selector, std::move(std::get<core::SecretValueV1>(*content)));
}

}  // namespace morvik::ops
