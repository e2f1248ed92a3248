#pragma once

// Turning content into signed vault records. Only Secret and SecretDeleted
// records are ever built here; every other kind arrives signed. The one check
// made is that the identity is what its keys say it is: whether the writer
// may write, and with which counter, is the caller's business.
//
// These belong to the record model, but sign with an Identity, so they live
// with the cryptography that the record model cannot depend on.

#include <string>
#include <variant>

#include "core/errors.hpp"
#include "core/records.hpp"
#include "core/selectors.hpp"
#include "core/signed_message.hpp"
#include "crypto/identity.hpp"

namespace morvik::core::hazmat {

struct HazmatError {
  // "core error: {0}"
  struct Core {
    CoreError error;
    bool operator==(const Core&) const = default;
  };
  // "signer identity does not match signing public key"
  struct SignerMismatch {
    UserId identity_user_id;
    UserId derived_user_id;
    bool operator==(const SignerMismatch&) const = default;
  };

  std::variant<Core, SignerMismatch> value;

  std::string message() const;
  bool operator==(const HazmatError&) const = default;
};

template <class T>
using HazmatResult = std::expected<T, HazmatError>;

// The identity's user_id, after checking that its two public keys derive it.
template <CryptoProvider P>
HazmatResult<UserId> ensure_identity_consistent(const P& provider, const crypto::Identity& identity) {
  auto derived = derive_user_id(provider, identity.signing_public_key, identity.encryption_public_key);
  if (!derived) return std::unexpected(HazmatError{HazmatError::Core{std::move(derived.error())}});
  if (*derived != identity.user_id) {
    return std::unexpected(HazmatError{HazmatError::SignerMismatch{identity.user_id, std::move(*derived)}});
  }
  return std::move(*derived);
}

// Wraps the body in an envelope signed by the identity under "morvik.signed.v1".
template <CryptoProvider P>
HazmatResult<VaultRecordV1> signed_payload(const P& provider, const crypto::Identity& identity,
                                           cord::Evolving<RecordBodyV1> body) {
  if (auto consistent = ensure_identity_consistent(provider, identity); !consistent) {
    return std::unexpected(std::move(consistent.error()));
  }
  VaultRecordV1 record{std::move(body), identity.signing_public_key, {}};
  auto message = signed_record_message(record);
  if (!message) return std::unexpected(HazmatError{HazmatError::Core{std::move(message.error())}});
  record.signature = identity.sign(kSignedRecordLabel, *message);
  return record;
}

template <CryptoProvider P>
HazmatResult<VaultRecordV1> secret_record(const P& provider, const crypto::Identity& identity,
                                          SecretSelectorV1 selector, SealedPayloadV1 payload, std::uint64_t counter) {
  auto secret_id = derive_secret_id(provider, selector);
  if (!secret_id) return std::unexpected(HazmatError{HazmatError::Core{std::move(secret_id.error())}});
  return signed_payload(provider, identity,
                        RecordBodyV1(record_body::Secret{std::move(*secret_id), std::move(selector),
                                                         std::move(payload), counter}));
}

template <CryptoProvider P>
HazmatResult<VaultRecordV1> secret_deleted_record(const P& provider, const crypto::Identity& identity,
                                                  SecretSelectorV1 selector, std::uint64_t counter) {
  auto secret_id = derive_secret_id(provider, selector);
  if (!secret_id) return std::unexpected(HazmatError{HazmatError::Core{std::move(secret_id.error())}});
  return signed_payload(provider, identity,
                        RecordBodyV1(record_body::SecretDeleted{std::move(*secret_id), std::move(selector), counter}));
}

// Adds the record to the set; a record equal to one already held is dropped.
void append_record(VaultStore& store, VaultRecordV1 record);

}  // namespace morvik::core::hazmat
