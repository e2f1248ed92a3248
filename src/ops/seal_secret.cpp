#include "ops/seal_secret.hpp"

#include <algorithm>

#include "core/derivations.hpp"
#include "core/domain_hash.hpp"
#include "core/validate/structure.hpp"
#include "crypto/content.hpp"
#include "crypto/hazmat.hpp"
#include "crypto/key_wrap.hpp"
#include "ops/envelope.hpp"

namespace morvik::ops {
namespace {

using core::validate::EffectiveState;

struct NewRecordSlot {
  std::uint64_t counter = 0;
  core::SecretId secret_id;
};

// Where the new record of the selector goes: its counter (checked first, so
// that an exhausted counter seals nothing) and its secret.
OpsResult<NewRecordSlot> new_record_slot(const EffectiveState& state, const crypto::Crypto& crypto,
                                         const core::SecretSelectorV1& selector) {
  auto counter = next_record_counter(state);
  if (!counter) return fail(std::move(counter.error()));
  auto secret_id = core::derive_secret_id(crypto, selector);
  if (!secret_id) return fail(std::move(secret_id.error()));
  return NewRecordSlot{*counter, std::move(*secret_id)};
}

// The signed record with its encoding and hash, which the working set keeps
// for the validation and the file that follow.
template <class Output>
OpsResult<SealedRecord<Output>> sealed(const crypto::Crypto& crypto,
                                       core::hazmat::HazmatResult<core::VaultRecordV1> record, Output output) {
  if (!record) return fail(std::move(record.error()));
  auto encoding = cord::serialize(*record);
  if (!encoding) return fail(core::CoreError::cord(std::move(encoding.error())));
  core::HashValue record_hash = crypto.hash(core::kRecordHashLabel, *encoding);
  return SealedRecord<Output>{{std::move(*record), std::move(*encoding), std::move(record_hash)}, std::move(output)};
}

template <class Output>
OpsResult<BuiltRecord<Output>> append_sealed(core::validate::RecordSet& records,
                                             OpsResult<SealedRecord<Output>> built) {
  if (!built) return fail(std::move(built.error()));
  core::validate::AddedRecord& record = built->record;
  records.append_record(std::move(record.record), std::move(record.encoding), record.hash);
  return BuiltRecord<Output>{std::move(built->output), std::move(record.hash)};
}

}  // namespace

OpsResult<std::uint64_t> next_record_counter(const EffectiveState& state) {
  const std::uint64_t counter = std::max(core::validate::next_counter(state), state.rollback_counter_floor());
  if (counter > core::validate::kCounterCeiling) return fail(OpsError::CounterExhausted{});
  return counter;
}

OpsResult<core::SealedPayloadV1> seal_secret_payload(const EffectiveState& state, const SecretAadContext& context,
                                                     const core::SecretValueV1& value) {
  // Refused before anything is encoded.
  if (!state.trusted_root) return fail(OpsError::MissingEffectiveRoot{});
  auto envelope = envelope_plaintext(value);
  if (!envelope) return fail(std::move(envelope.error()));
  return seal_plaintext_payload(state, context, *envelope);
}

// A fresh content key and nonce, the key wrapped for each reader in
// ascending order, then the content sealed over all the slots.
OpsResult<core::SealedPayloadV1> seal_plaintext_payload(const EffectiveState& state, const SecretAadContext& context,
                                                        cord::ByteView plaintext) {
  if (!state.trusted_root) return fail(OpsError::MissingEffectiveRoot{});
  const cord::ByteView root_id = state.trusted_root->bytes;
  auto content_key = crypto::ContentKey::generate();
  if (!content_key) return fail(std::move(content_key.error()));
  auto nonce = crypto::ContentNonce::generate();
  if (!nonce) return fail(std::move(nonce.error()));

  std::vector<core::RecipientSlotV1> slots;
  for (const core::UserId& reader : state.current_reader_entries(context.selector)) {
    const auto user = state.users.find(reader);
    if (user == state.users.end()) return fail(OpsError::ReaderMissing{reader});
    auto binding = recipient_slot_binding_bytes(root_id, context.secret_id.hash.bytes, context.selector,
                                                reader.hash.bytes);
    if (!binding) return fail(std::move(binding.error()));
    auto wrapped = crypto::wrap_content_key(user->second.encryption_public_key, *binding, *binding, *content_key);
    if (!wrapped) return fail(std::move(wrapped.error()));
    slots.push_back(
        core::RecipientSlotV1{reader, std::move(wrapped->encapsulated_key), std::move(wrapped->wrapped_key)});
  }

  const cord::Bytes nonce_bytes = nonce->to_vec();
  core::RecipientSlots recipient_slots(slots);
  auto associated_data = secret_content_aad_bytes(root_id, context, nonce_bytes, recipient_slots);
  if (!associated_data) return fail(std::move(associated_data.error()));
  auto ciphertext = crypto::seal_content(*content_key, *nonce, *associated_data, plaintext);
  if (!ciphertext) return fail(std::move(ciphertext.error()));
  return core::SealedPayloadV1{nonce_bytes, *ciphertext, std::move(recipient_slots)};
}

OpsResult<SealedRecord<SetSecretOutput>> seal_secret_value(const EffectiveState& state, const crypto::Crypto& crypto,
                                                          const crypto::Identity& identity,
                                                          const core::SecretSelectorV1& selector,
                                                          const core::SecretValueV1& value) {
  auto slot = new_record_slot(state, crypto, selector);
  if (!slot) return fail(std::move(slot.error()));
  const core::RecordKey record_key = core::record_key::Secret{slot->secret_id};
  auto payload = seal_secret_payload(
      state, SecretAadContext{record_key, identity.signing_public_key, slot->secret_id, selector, slot->counter},
      value);
  if (!payload) return fail(std::move(payload.error()));
  auto record = core::hazmat::secret_record(crypto, identity, selector, *payload, slot->counter);
  return sealed(crypto, std::move(record), SetSecretOutput{std::move(slot->secret_id), selector, std::move(*payload)});
}

OpsResult<BuiltRecord<SetSecretOutput>> append_secret_value(core::validate::RecordSet& records,
                                                            const EffectiveState& state,
                                                            const crypto::Crypto& crypto,
                                                            const crypto::Identity& identity,
                                                            const core::SecretSelectorV1& selector,
                                                            const core::SecretValueV1& value) {
  return append_sealed(records, seal_secret_value(state, crypto, identity, selector, value));
}

OpsResult<BuiltRecord<DeleteSecretOutput>> append_secret_deletion(core::validate::RecordSet& records,
                                                                  const EffectiveState& state,
                                                                  const crypto::Crypto& crypto,
                                                                  const crypto::Identity& identity,
                                                                  const core::SecretSelectorV1& selector) {
  auto slot = new_record_slot(state, crypto, selector);
  if (!slot) return fail(std::move(slot.error()));
  auto record = core::hazmat::secret_deleted_record(crypto, identity, selector, slot->counter);
  return append_sealed(records,
                       sealed(crypto, std::move(record), DeleteSecretOutput{std::move(slot->secret_id), selector}));
}

OpsResult<void> ensure_secret_writable(const EffectiveState& state, const core::SecretSelectorV1& selector,
                                       const core::UserId& user_id) {
  if (!state.users.contains(user_id)) return fail(OpsError::WriterMissing{user_id});
  if (state.did_not_converge || !state.authority_of(user_id).can_write(selector)) {
    return fail(OpsError::SecretNotWritable{});
  }
  return {};
}

}  // namespace morvik::ops
