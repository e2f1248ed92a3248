#pragma once

// The byte strings that tie a sealed secret together. Writer and reader
// each rebuild them from the record and must obtain the same bytes, so they
// are canonical encodings that are written only, never decoded.

#include <cstdint>
#include <string>
#include <vector>

#include "core/ids.hpp"
#include "core/payloads.hpp"
#include "core/record_key.hpp"
#include "core/selectors.hpp"
#include "cord/cord.hpp"
#include "ops/error.hpp"

namespace morvik::ops {

// The associated data of a secret's content: the vault, the record's slot,
// signer, counter and selector, the nonce and every recipient slot in stored
// order. Reordering or altering any of them makes the content unreadable.
struct SecretContentAadV1 {
  cord::Bytes vault_root_id;
  core::RecordKey record_key;
  cord::Bytes signing_public_key;
  std::uint64_t counter = 0;
  cord::Bytes secret_id;
  std::vector<cord::CompactText> tuple;
  std::vector<core::SecretLabelV1> labels;
  cord::Bytes nonce;
  core::RecipientSlots recipient_slots;

  static constexpr auto cord_fields() {
    return std::tuple{&SecretContentAadV1::vault_root_id, &SecretContentAadV1::record_key,
                      &SecretContentAadV1::signing_public_key, &SecretContentAadV1::counter,
                      &SecretContentAadV1::secret_id, &SecretContentAadV1::tuple,
                      &SecretContentAadV1::labels, &SecretContentAadV1::nonce,
                      &SecretContentAadV1::recipient_slots};
  }
};

// The HPKE info and associated data of one reader's wrapped content key: a
// slot moved to another vault, secret or reader no longer opens.
struct RecipientSlotBindingV1 {
  cord::Bytes vault_root_id;
  cord::Bytes secret_id;
  std::vector<cord::CompactText> tuple;
  std::vector<core::SecretLabelV1> labels;
  cord::Bytes reader;

  static constexpr auto cord_fields() {
    return std::tuple{&RecipientSlotBindingV1::vault_root_id, &RecipientSlotBindingV1::secret_id,
                      &RecipientSlotBindingV1::tuple, &RecipientSlotBindingV1::labels,
                      &RecipientSlotBindingV1::reader};
  }
};

// The record-side inputs of the content associated data, borrowed for the
// length of one call: from the record being built when sealing, from the
// stored record when opening.
struct SecretAadContext {
  const core::RecordKey& record_key;
  cord::ByteView signing_public_key;
  const core::SecretId& secret_id;
  const core::SecretSelectorV1& selector;
  std::uint64_t counter = 0;
};

// Fails only where the encoding refuses a value (OpsError::Cord).
OpsResult<cord::Bytes> secret_content_aad_bytes(cord::ByteView vault_root_id, const SecretAadContext& context,
                                                cord::ByteView nonce,
                                                const core::RecipientSlots& recipient_slots);

OpsResult<cord::Bytes> recipient_slot_binding_bytes(cord::ByteView vault_root_id, cord::ByteView secret_id,
                                                    const core::SecretSelectorV1& selector, cord::ByteView reader);

}  // namespace morvik::ops
