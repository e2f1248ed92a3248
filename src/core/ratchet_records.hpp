#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "core/hash_value.hpp"
#include "core/ids.hpp"
#include "core/key_origin.hpp"
#include "core/record_key.hpp"
#include "core/selectors.hpp"

namespace morvik::core {

// One fact a client remembers about a vault it has accepted: the highest
// counter admitted for a slot (with the slot's origin where it has one), the
// highest format version seen, or the trusted root.

struct UserRatchetRecordV1 {
  UserId user_id;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() { return std::tuple{&UserRatchetRecordV1::user_id, &UserRatchetRecordV1::counter}; }
  auto operator<=>(const UserRatchetRecordV1&) const = default;
};

// An empty `handle` means no origin is remembered.
struct UserHandleRatchetRecordV1 {
  UserHandleId handle_id;
  std::uint64_t counter = 0;
  std::string handle;

  static constexpr auto cord_fields() {
    return std::tuple{&UserHandleRatchetRecordV1::handle_id, &UserHandleRatchetRecordV1::counter,
                      &UserHandleRatchetRecordV1::handle};
  }
  auto operator<=>(const UserHandleRatchetRecordV1&) const = default;
};

// An empty `handle` means no origin is remembered.
struct VaultHandleRatchetRecordV1 {
  VaultHandleId handle_id;
  std::uint64_t counter = 0;
  std::string handle;

  static constexpr auto cord_fields() {
    return std::tuple{&VaultHandleRatchetRecordV1::handle_id, &VaultHandleRatchetRecordV1::counter,
                      &VaultHandleRatchetRecordV1::handle};
  }
  auto operator<=>(const VaultHandleRatchetRecordV1&) const = default;
};

struct GroupRatchetRecordV1 {
  GroupId group_id;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&GroupRatchetRecordV1::group_id, &GroupRatchetRecordV1::counter};
  }
  auto operator<=>(const GroupRatchetRecordV1&) const = default;
};

struct GroupMemberRatchetRecordV1 {
  GroupMemberId group_member_id;
  std::uint64_t counter = 0;
  std::optional<GroupMemberIdInputV1> origin;

  static constexpr auto cord_fields() {
    return std::tuple{&GroupMemberRatchetRecordV1::group_member_id, &GroupMemberRatchetRecordV1::counter,
                      &GroupMemberRatchetRecordV1::origin};
  }
  auto operator<=>(const GroupMemberRatchetRecordV1&) const = default;
};

struct GrantRatchetRecordV1 {
  GrantId grant_id;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&GrantRatchetRecordV1::grant_id, &GrantRatchetRecordV1::counter};
  }
  auto operator<=>(const GrantRatchetRecordV1&) const = default;
};

// A selector with an empty tuple means no origin is remembered, whatever its
// labels hold.
struct SecretRatchetRecordV1 {
  SecretId secret_id;
  std::uint64_t counter = 0;
  SecretSelectorV1 selector;

  static constexpr auto cord_fields() {
    return std::tuple{&SecretRatchetRecordV1::secret_id, &SecretRatchetRecordV1::counter,
                      &SecretRatchetRecordV1::selector};
  }
  auto operator<=>(const SecretRatchetRecordV1&) const = default;
};

struct EntryPointRatchetRecordV1 {
  UserId user_id;
  std::uint64_t counter = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&EntryPointRatchetRecordV1::user_id, &EntryPointRatchetRecordV1::counter};
  }
  auto operator<=>(const EntryPointRatchetRecordV1&) const = default;
};

struct TrustedRootRatchetRecordV1 {
  HashValue trusted_root;

  static constexpr auto cord_fields() { return std::tuple{&TrustedRootRatchetRecordV1::trusted_root}; }
  auto operator<=>(const TrustedRootRatchetRecordV1&) const = default;
};

namespace ratchet_record {
struct FormatVersionTag;
using User = UserRatchetRecordV1;
using UserHandle = UserHandleRatchetRecordV1;
using VaultHandle = VaultHandleRatchetRecordV1;
using Group = GroupRatchetRecordV1;
using GroupMember = GroupMemberRatchetRecordV1;
using Grant = GrantRatchetRecordV1;
using Secret = SecretRatchetRecordV1;
using EntryPoint = EntryPointRatchetRecordV1;
// The highest vault format version seen.
using FormatVersion = cord::Tagged<FormatVersionTag, std::uint64_t>;
using TrustedRoot = TrustedRootRatchetRecordV1;
}  // namespace ratchet_record
using RatchetRecordV1 =
    std::variant<ratchet_record::User, ratchet_record::UserHandle, ratchet_record::VaultHandle, ratchet_record::Group,
                 ratchet_record::GroupMember, ratchet_record::Grant, ratchet_record::Secret, ratchet_record::EntryPoint,
                 ratchet_record::FormatVersion, ratchet_record::TrustedRoot>;

// The slot a record remembers; none for FormatVersion and TrustedRoot.
// From a record given up, the identifier is moved out of it.
std::optional<RecordKey> ratchet_record_key(const RatchetRecordV1& record);
std::optional<RecordKey> ratchet_record_key(RatchetRecordV1&& record);

// The origin a record remembers; none where it has none or holds the empty
// marker (empty handle, selector with an empty tuple). From a record given
// up, the origin is moved out of it; its slot identifier stays.
std::optional<KeyOrigin> ratchet_record_origin(const RatchetRecordV1& record);
std::optional<KeyOrigin> ratchet_record_origin(RatchetRecordV1&& record);

// The record remembering `counter` and `origin` for `key`; none for the
// root's slot. An origin of a variant that does not match the key is ignored.
std::optional<RatchetRecordV1> ratchet_record_for_key(const RecordKey& key, std::uint64_t counter,
                                                      const KeyOrigin* origin);

}  // namespace morvik::core

// Compiled once, in codecs.cpp.
MORVIK_CORD_EXTERN_CODEC(morvik::core::RatchetRecordV1);
MORVIK_CORD_EXTERN_CODEC(morvik::cord::Evolving<morvik::core::RatchetRecordV1>);
