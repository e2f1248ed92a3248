#pragma once

// Builds vaults for tests: the system itself only ever writes Secret and
// SecretDeleted records, so every other kind is made here. Identities come
// from fixed seeds, identifiers are derived as validation re-derives them,
// counters are always given, and records are signed by whoever the test
// says. Breakers turn a sound record into one that a single rule refuses.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/derivations.hpp"
#include "core/records.hpp"
#include "core/selectors.hpp"
#include "crypto/identity.hpp"
#include "crypto/provider.hpp"
#include "support/core/selectors.hpp"

namespace morvik::testing {

inline const crypto::Crypto kCrypto{};

// The user whose master seed is 32 bytes of `seed`: the same in every run.
crypto::Identity identity(std::uint8_t seed);

// Derived identifiers, as the structural checks compute them.
core::IdSeed id_seed(std::uint8_t n);
core::GroupId group_id_of(const core::IdSeed& seed);
core::GrantId grant_id_of(const core::IdSeed& seed);
core::PrincipalRefV1 user_ref(const crypto::Identity& user);
// The key hash of the identity's signing key: for the root, the trusted root.
core::HashValue key_hash_of(const crypto::Identity& signer);

// A payload with placeholder bytes and one slot per reader, in the order
// given; its content cannot be opened.
core::SealedPayloadV1 payload_for(const std::vector<core::UserId>& readers);

// A payload's slots as values, in stored order: to look at one by index, or
// to change and put back as a new RecipientSlots.
std::vector<core::RecipientSlotV1> slots_of(const core::SealedPayloadV1& payload);

// Bodies of every kind, well formed.
core::RecordBodyV1 vault_root_body(const crypto::Identity& root);
// A user's entry into the vault of `root_user_id`; to be signed by the user.
core::RecordBodyV1 entry_point_body(const core::UserId& root_user_id, const crypto::Identity& user,
                                    std::uint64_t counter);
core::RecordBodyV1 user_body(const crypto::Identity& user, std::uint64_t counter);
core::RecordBodyV1 user_handle_body(const std::string& handle, const core::UserId& user, std::uint64_t counter);
core::RecordBodyV1 group_body(const core::IdSeed& seed, const std::string& handle, std::uint64_t counter);
core::RecordBodyV1 group_deleted_body(const core::GroupId& group, std::uint64_t counter);
core::RecordBodyV1 group_member_body(const core::GroupId& group, const core::PrincipalRefV1& member,
                                     std::uint64_t counter);
core::RecordBodyV1 group_member_deleted_body(const core::GroupId& group, const core::PrincipalRefV1& member,
                                             std::uint64_t counter);
core::RecordBodyV1 grant_body(const core::IdSeed& seed, const core::PrincipalRefV1& grantee,
                              const core::GrantPermissionV1& permission, std::uint64_t counter);
core::RecordBodyV1 grant_deleted_body(const core::GrantId& grant, const core::GrantPermissionV1& permission,
                                      std::uint64_t counter);
core::RecordBodyV1 user_deleted_body(const core::UserId& user, std::uint64_t counter);
core::RecordBodyV1 secret_body(const core::SecretSelectorV1& selector, const core::SealedPayloadV1& payload,
                               std::uint64_t counter);
core::RecordBodyV1 secret_deleted_body(const core::SecretSelectorV1& selector, std::uint64_t counter);
core::RecordBodyV1 vault_handle_body(const std::string& handle, std::uint64_t counter);
// A body of a kind this version does not know (variant index 14).
cord::Evolving<core::RecordBodyV1> unknown_kind_body();

// The envelope of `body`, signed by `signer`.
core::VaultRecordV1 sign(const crypto::Identity& signer, cord::Evolving<core::RecordBodyV1> body);

// Breakers. To sign with a key no user of the vault holds, sign with the
// identity of a seed that was never added.
// The same record with one bit of its signature flipped.
core::VaultRecordV1 with_flipped_signature(core::VaultRecordV1 record);
// The body with one bit flipped in its leading identifier (every kind starts
// with one), so that it no longer equals its derivation or its target.
core::RecordBodyV1 with_wrong_identifier(core::RecordBodyV1 body);

// A vault under construction around a root user. Users join with their
// entry point (signed by themselves) and their user record (signed by the
// root); other records are added signed by whoever the test chooses.
class TestVault {
 public:
  explicit TestVault(std::uint8_t root_seed = 1);

  const crypto::Identity& root() const { return root_; }
  const core::UserId& root_user_id() const { return root_.user_id; }
  core::HashValue trusted_root() const { return key_hash_of(root_); }

  // Enters the user of `seed` with both records at `counter`; returns it.
  const crypto::Identity& add_user(std::uint8_t seed, std::uint64_t counter);
  // A user added before.
  const crypto::Identity& user(std::uint8_t seed) const { return users_.at(seed); }

  void add(core::VaultRecordV1 record) { core::vault_records(store_).insert(std::move(record)); }
  // Signs `body` with `signer` and adds it.
  void add(const crypto::Identity& signer, cord::Evolving<core::RecordBodyV1> body) {
    add(sign(signer, std::move(body)));
  }

  const core::VaultStore& store() const { return store_; }

 private:
  crypto::Identity root_;
  std::map<std::uint8_t, crypto::Identity> users_;
  core::VaultStore store_;
};

}  // namespace morvik::testing
