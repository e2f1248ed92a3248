#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "core/ids.hpp"
#include "core/payloads.hpp"
#include "core/selectors.hpp"
#include "cord/cord.hpp"

namespace morvik::core {

// The record kinds. Field order is wire order; every kind but the root ends
// with its Lamport counter. Decoding checks nothing beyond the encoding:
// identifier derivations, handle rules and counter limits belong to the
// structural checks.

// The vault's root user; its signer's key hash is the trusted root.
struct VaultRootRecordV1 {
  UserId root_user_id;
  cord::CompactBytes root_encryption_public_key;

  static constexpr auto cord_fields() {
    return std::tuple{&VaultRootRecordV1::root_user_id, &VaultRootRecordV1::root_encryption_public_key};
  }
  auto operator<=>(const VaultRootRecordV1&) const = default;
};

// A user's own entry into the vault. `user_id` names the root; the entering
// user is the signer.
struct EntryPointRecordV1 {
  UserId user_id;
  cord::CompactBytes encryption_public_key;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&EntryPointRecordV1::user_id, &EntryPointRecordV1::encryption_public_key,
                      &EntryPointRecordV1::counter};
  }
  auto operator<=>(const EntryPointRecordV1&) const = default;
};

struct UserRecordV1 {
  UserId user_id;
  cord::CompactBytes signing_public_key;
  cord::CompactBytes encryption_public_key;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&UserRecordV1::user_id, &UserRecordV1::signing_public_key, &UserRecordV1::encryption_public_key,
                      &UserRecordV1::counter};
  }
  auto operator<=>(const UserRecordV1&) const = default;
};

struct UserHandleRecordV1 {
  UserHandleId handle_id;
  std::string handle;
  UserId user_id;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&UserHandleRecordV1::handle_id, &UserHandleRecordV1::handle, &UserHandleRecordV1::user_id,
                      &UserHandleRecordV1::counter};
  }
  auto operator<=>(const UserHandleRecordV1&) const = default;
};

struct GroupRecordV1 {
  GroupId group_id;
  IdSeed seed;
  std::string handle;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&GroupRecordV1::group_id, &GroupRecordV1::seed, &GroupRecordV1::handle, &GroupRecordV1::counter};
  }
  auto operator<=>(const GroupRecordV1&) const = default;
};

struct GroupDeletedRecordV1 {
  GroupId group_id;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&GroupDeletedRecordV1::group_id, &GroupDeletedRecordV1::counter};
  }
  auto operator<=>(const GroupDeletedRecordV1&) const = default;
};

struct GroupMemberRecordV1 {
  GroupMemberId group_member_id;
  GroupId group_id;
  PrincipalRefV1 member;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&GroupMemberRecordV1::group_member_id, &GroupMemberRecordV1::group_id,
                      &GroupMemberRecordV1::member, &GroupMemberRecordV1::counter};
  }
  auto operator<=>(const GroupMemberRecordV1&) const = default;
};

// Same fields and encoding as GroupMemberRecordV1, but a distinct kind.
struct GroupMemberDeletedRecordV1 {
  GroupMemberId group_member_id;
  GroupId group_id;
  PrincipalRefV1 member;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&GroupMemberDeletedRecordV1::group_member_id, &GroupMemberDeletedRecordV1::group_id,
                      &GroupMemberDeletedRecordV1::member, &GroupMemberDeletedRecordV1::counter};
  }
  auto operator<=>(const GroupMemberDeletedRecordV1&) const = default;
};

struct GrantRecordV1 {
  GrantId grant_id;
  IdSeed seed;
  PrincipalRefV1 grantee;
  GrantPermissionV1 permission;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&GrantRecordV1::grant_id, &GrantRecordV1::seed, &GrantRecordV1::grantee,
                      &GrantRecordV1::permission, &GrantRecordV1::counter};
  }
  auto operator<=>(const GrantRecordV1&) const = default;
};

// The deletion names a permission of its own, which decides whether it applies.
struct GrantDeletedRecordV1 {
  GrantId grant_id;
  GrantPermissionV1 permission;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&GrantDeletedRecordV1::grant_id, &GrantDeletedRecordV1::permission,
                      &GrantDeletedRecordV1::counter};
  }
  auto operator<=>(const GrantDeletedRecordV1&) const = default;
};

// `annotation` has no meaning to the system; it is signed, hashed and kept.
struct UserDeletedRecordV1 {
  UserId user_id;
  std::optional<std::string> annotation;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&UserDeletedRecordV1::user_id, &UserDeletedRecordV1::annotation, &UserDeletedRecordV1::counter};
  }
  auto operator<=>(const UserDeletedRecordV1&) const = default;
};

struct SecretRecordV1 {
  SecretId secret_id;
  SecretSelectorV1 selector;
  SealedPayloadV1 payload;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&SecretRecordV1::secret_id, &SecretRecordV1::selector, &SecretRecordV1::payload,
                      &SecretRecordV1::counter};
  }
  auto operator<=>(const SecretRecordV1&) const = default;
};

struct SecretDeletedRecordV1 {
  SecretId secret_id;
  SecretSelectorV1 selector;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&SecretDeletedRecordV1::secret_id, &SecretDeletedRecordV1::selector,
                      &SecretDeletedRecordV1::counter};
  }
  auto operator<=>(const SecretDeletedRecordV1&) const = default;
};

struct VaultHandleRecordV1 {
  VaultHandleId handle_id;
  std::string handle;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&VaultHandleRecordV1::handle_id, &VaultHandleRecordV1::handle, &VaultHandleRecordV1::counter};
  }
  auto operator<=>(const VaultHandleRecordV1&) const = default;
};

// The fourteen kinds, in wire order.
namespace record_body {
using VaultRoot = VaultRootRecordV1;
using EntryPoint = EntryPointRecordV1;
using User = UserRecordV1;
using UserHandle = UserHandleRecordV1;
using Group = GroupRecordV1;
using GroupDeleted = GroupDeletedRecordV1;
using GroupMember = GroupMemberRecordV1;
using GroupMemberDeleted = GroupMemberDeletedRecordV1;
using Grant = GrantRecordV1;
using GrantDeleted = GrantDeletedRecordV1;
using UserDeleted = UserDeletedRecordV1;
using Secret = SecretRecordV1;
using SecretDeleted = SecretDeletedRecordV1;
using VaultHandle = VaultHandleRecordV1;
}  // namespace record_body
using RecordBodyV1 = std::variant<record_body::VaultRoot, record_body::EntryPoint, record_body::User,
                                  record_body::UserHandle, record_body::Group, record_body::GroupDeleted,
                                  record_body::GroupMember, record_body::GroupMemberDeleted, record_body::Grant,
                                  record_body::GrantDeleted, record_body::UserDeleted, record_body::Secret,
                                  record_body::SecretDeleted, record_body::VaultHandle>;

// The Lamport counter of a body; none for the root, which has no counter.
std::optional<std::uint64_t> body_counter(const RecordBodyV1& body);

// The signed envelope of every record. Only the body's encoding is signed;
// the record hash covers all three fields. Key and signature lengths are not
// checked on decode: such a record stays in the set and fails verification.
struct VaultRecordV1 {
  cord::Evolving<RecordBodyV1> body;
  cord::CompactBytes signing_public_key;
  cord::CompactBytes signature;

  static constexpr auto cord_fields() {
    return std::tuple{&VaultRecordV1::body, &VaultRecordV1::signing_public_key, &VaultRecordV1::signature};
  }
  auto operator<=>(const VaultRecordV1&) const = default;
};

// The whole record set: the payload of the vault file.
namespace vault_store {
struct V1Tag;
using V1 = cord::Tagged<V1Tag, cord::Set<VaultRecordV1>>;
}  // namespace vault_store
using VaultStore = std::variant<vault_store::V1>;

inline cord::Set<VaultRecordV1>& vault_records(VaultStore& store) { return std::get<vault_store::V1>(store).value; }
inline const cord::Set<VaultRecordV1>& vault_records(const VaultStore& store) {
  return std::get<vault_store::V1>(store).value;
}

}  // namespace morvik::core

// Every record passes through these codecs; they are compiled once, in codecs.cpp.
MORVIK_CORD_EXTERN_CODEC(morvik::core::RecordBodyV1);
MORVIK_CORD_EXTERN_CODEC(morvik::cord::Evolving<morvik::core::RecordBodyV1>);
MORVIK_CORD_EXTERN_CODEC(morvik::core::VaultRecordV1);
MORVIK_CORD_EXTERN_CODEC(morvik::core::VaultStore);
