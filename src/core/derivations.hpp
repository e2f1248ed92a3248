#pragma once

#include <string>
#include <string_view>

#include "core/domain_hash.hpp"
#include "core/errors.hpp"
#include "core/handles.hpp"
#include "core/ids.hpp"
#include "core/provider.hpp"
#include "core/selectors.hpp"
#include "cord/cord.hpp"

namespace morvik::core {

// Every identifier is the domain hash of a canonical encoding under its own
// label. The only failure is an encoding failure of the pre-image.

// The domain hash of the canonical encoding of `preimage`, as `Id`.
template <class Id, CryptoProvider P, class T>
CoreResult<Id> hash_encoding(const P& provider, std::string_view label, const T& preimage) {
  auto encoded = cord::serialize(preimage);
  if (!encoded) return fail(CoreError::cord(std::move(encoded.error())));
  return Id{provider.hash(label, *encoded)};
}

template <CryptoProvider P>
CoreResult<UserId> derive_user_id(const P& provider, cord::ByteView signing_public_key,
                                  cord::ByteView encryption_public_key) {
  return hash_encoding<UserId>(
      provider, kUserIdLabel,
      UserIdInputV1{cord::Bytes(signing_public_key.begin(), signing_public_key.end()),
                    cord::Bytes(encryption_public_key.begin(), encryption_public_key.end())});
}

// Names a signing key: the trusted root, and signers that belong to no user.
template <CryptoProvider P>
CoreResult<HashValue> key_hash(const P& provider, cord::ByteView public_key) {
  return hash_encoding<HashValue>(provider, kKeyHashLabel, cord::Bytes(public_key.begin(), public_key.end()));
}

template <CryptoProvider P>
CoreResult<SecretId> derive_secret_id(const P& provider, const SecretSelectorV1& selector) {
  return hash_encoding<SecretId>(provider, kSecretIdLabel, selector);
}

// Hashes the normalised text; the handle rule is the caller's to apply.
template <CryptoProvider P>
CoreResult<UserHandleId> derive_user_handle_id(const P& provider, std::string_view handle) {
  return hash_encoding<UserHandleId>(provider, kUserHandleLabel, normalize_handle(handle));
}

// Hashes the normalised text; the handle rule is the caller's to apply.
template <CryptoProvider P>
CoreResult<VaultHandleId> derive_vault_handle_id(const P& provider, std::string_view handle) {
  return hash_encoding<VaultHandleId>(provider, kVaultHandleLabel, normalize_handle(handle));
}

template <CryptoProvider P>
CoreResult<GroupMemberId> derive_group_member_id(const P& provider, const GroupId& group_id,
                                                 const PrincipalRefV1& member) {
  return hash_encoding<GroupMemberId>(provider, kGroupMemberLabel, GroupMemberIdInputV1{group_id, member});
}

}  // namespace morvik::core
