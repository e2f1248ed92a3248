#include "support/core/vault_factory.hpp"

#include <stdexcept>

#include "core/domain_hash.hpp"
#include "crypto/hazmat.hpp"

namespace morvik::testing {
namespace {

// Derivations of well-formed test values cannot fail; a failure is a broken
// fixture, not a test outcome.
template <class T, class E>
T expect_ok(std::expected<T, E> result) {
  if (!result) throw std::logic_error("test fixture: " + result.error().message());
  return std::move(*result);
}

cord::Bytes filled(std::size_t size, std::uint8_t byte) { return cord::Bytes(size, byte); }

}  // namespace

crypto::Identity identity(std::uint8_t seed) {
  return expect_ok(crypto::Identity::from_master_seed(kCrypto, filled(32, seed)));
}

core::IdSeed id_seed(std::uint8_t n) { return core::IdSeed{filled(32, n)}; }

core::GroupId group_id_of(const core::IdSeed& seed) {
  return expect_ok(core::hash_encoding<core::GroupId>(kCrypto, core::kGroupIdLabel, seed));
}

core::GrantId grant_id_of(const core::IdSeed& seed) {
  return expect_ok(core::hash_encoding<core::GrantId>(kCrypto, core::kGrantIdLabel, seed));
}

core::PrincipalRefV1 user_ref(const crypto::Identity& user) { return core::principal_ref::User{user.user_id}; }

core::HashValue key_hash_of(const crypto::Identity& signer) {
  return expect_ok(core::key_hash(kCrypto, signer.signing_public_key));
}

core::SealedPayloadV1 payload_for(const std::vector<core::UserId>& readers) {
  std::vector<core::RecipientSlotV1> slots;
  for (const core::UserId& reader : readers) {
    slots.push_back(core::RecipientSlotV1{reader, filled(32, 0xE4), filled(48, 0x3A)});
  }
  return core::SealedPayloadV1{filled(12, 0x4E), filled(32, 0xC7), core::RecipientSlots(slots)};
}

std::vector<core::RecipientSlotV1> slots_of(const core::SealedPayloadV1& payload) {
  std::vector<core::RecipientSlotV1> slots;
  for (const core::RecipientSlotView& slot : payload.recipient_slots) {
    slots.push_back({core::UserId{core::HashValue{slot.reader}}, slot.encapsulated_key, slot.wrapped_key});
  }
  return slots;
}

core::RecordBodyV1 vault_root_body(const crypto::Identity& root) {
  return core::VaultRootRecordV1{root.user_id, root.encryption_public_key};
}

core::RecordBodyV1 entry_point_body(const core::UserId& root_user_id, const crypto::Identity& user,
                                    std::uint64_t counter) {
  return core::EntryPointRecordV1{root_user_id, user.encryption_public_key, counter};
}

core::RecordBodyV1 user_body(const crypto::Identity& user, std::uint64_t counter) {
  return core::UserRecordV1{user.user_id, user.signing_public_key, user.encryption_public_key, counter};
}

core::RecordBodyV1 user_handle_body(const std::string& handle, const core::UserId& user, std::uint64_t counter) {
  return core::UserHandleRecordV1{expect_ok(core::derive_user_handle_id(kCrypto, handle)), handle, user, counter};
}

core::RecordBodyV1 group_body(const core::IdSeed& seed, const std::string& handle, std::uint64_t counter) {
  return core::GroupRecordV1{group_id_of(seed), seed, handle, counter};
}

core::RecordBodyV1 group_deleted_body(const core::GroupId& group, std::uint64_t counter) {
  return core::GroupDeletedRecordV1{group, counter};
}

core::RecordBodyV1 group_member_body(const core::GroupId& group, const core::PrincipalRefV1& member,
                                     std::uint64_t counter) {
  return core::GroupMemberRecordV1{expect_ok(core::derive_group_member_id(kCrypto, group, member)), group, member,
                                   counter};
}

core::RecordBodyV1 group_member_deleted_body(const core::GroupId& group, const core::PrincipalRefV1& member,
                                             std::uint64_t counter) {
  return core::GroupMemberDeletedRecordV1{expect_ok(core::derive_group_member_id(kCrypto, group, member)), group,
                                          member, counter};
}

core::RecordBodyV1 grant_body(const core::IdSeed& seed, const core::PrincipalRefV1& grantee,
                              const core::GrantPermissionV1& permission, std::uint64_t counter) {
  return core::GrantRecordV1{grant_id_of(seed), seed, grantee, permission, counter};
}

core::RecordBodyV1 grant_deleted_body(const core::GrantId& grant, const core::GrantPermissionV1& permission,
                                      std::uint64_t counter) {
  return core::GrantDeletedRecordV1{grant, permission, counter};
}

core::RecordBodyV1 user_deleted_body(const core::UserId& user, std::uint64_t counter) {
  return core::UserDeletedRecordV1{user, std::nullopt, counter};
}

core::RecordBodyV1 secret_body(const core::SecretSelectorV1& selector, const core::SealedPayloadV1& payload,
                               std::uint64_t counter) {
  return core::SecretRecordV1{expect_ok(core::derive_secret_id(kCrypto, selector)), selector, payload, counter};
}

core::RecordBodyV1 secret_deleted_body(const core::SecretSelectorV1& selector, std::uint64_t counter) {
  return core::SecretDeletedRecordV1{expect_ok(core::derive_secret_id(kCrypto, selector)), selector, counter};
}

core::RecordBodyV1 vault_handle_body(const std::string& handle, std::uint64_t counter) {
  return core::VaultHandleRecordV1{expect_ok(core::derive_vault_handle_id(kCrypto, handle)), handle, counter};
}

cord::Evolving<core::RecordBodyV1> unknown_kind_body() { return cord::UnknownPayload{cord::Bytes{0, 0, 0, 14}}; }

core::VaultRecordV1 sign(const crypto::Identity& signer, cord::Evolving<core::RecordBodyV1> body) {
  return expect_ok(core::hazmat::signed_payload(kCrypto, signer, std::move(body)));
}

core::VaultRecordV1 with_flipped_signature(core::VaultRecordV1 record) {
  cord::Bytes signature(record.signature);
  signature.at(0) ^= 0x01;
  record.signature = signature;
  return record;
}

core::RecordBodyV1 with_wrong_identifier(core::RecordBodyV1 body) {
  std::visit(
      [](auto& kind) {
        auto& id = kind.*std::get<0>(std::decay_t<decltype(kind)>::cord_fields());
        cord::Bytes bytes(id.hash.bytes);
        bytes[0] ^= 0x01;
        id.hash.bytes = bytes;
      },
      body);
  return body;
}

TestVault::TestVault(std::uint8_t root_seed) : root_(identity(root_seed)) { add(root_, vault_root_body(root_)); }

const crypto::Identity& TestVault::add_user(std::uint8_t seed, std::uint64_t counter) {
  const crypto::Identity& user = users_.emplace(seed, identity(seed)).first->second;
  add(user, entry_point_body(root_user_id(), user, counter));
  add(root_, user_body(user, counter));
  return user;
}

}  // namespace morvik::testing
