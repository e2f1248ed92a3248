#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "core/hash_value.hpp"

namespace morvik::core {

// A content-addressed identifier: a HashValue under a type of its own, so
// that identifiers of different kinds never mix. Same bytes, wire form and
// order as the HashValue; reading it takes one nesting step more.
template <class Tag>
struct Identifier {
  HashValue hash;

  static constexpr auto cord_fields() { return std::tuple{&Identifier::hash}; }
  auto operator<=>(const Identifier&) const = default;
};

struct UserIdTag { static constexpr std::string_view name = "UserId"; };
struct GroupIdTag { static constexpr std::string_view name = "GroupId"; };
struct GrantIdTag { static constexpr std::string_view name = "GrantId"; };
struct SecretIdTag { static constexpr std::string_view name = "SecretId"; };
struct UserHandleIdTag { static constexpr std::string_view name = "UserHandleId"; };
struct GroupMemberIdTag { static constexpr std::string_view name = "GroupMemberId"; };
struct VaultHandleIdTag { static constexpr std::string_view name = "VaultHandleId"; };

using UserId = Identifier<UserIdTag>;
using GroupId = Identifier<GroupIdTag>;
using GrantId = Identifier<GrantIdTag>;
using SecretId = Identifier<SecretIdTag>;
using UserHandleId = Identifier<UserHandleIdTag>;
using GroupMemberId = Identifier<GroupMemberIdTag>;
using VaultHandleId = Identifier<VaultHandleIdTag>;

// "UserId(HashValue([...]))".
template <class Tag>
std::string debug_string(const Identifier<Tag>& id) {
  return std::string(Tag::name) + "(" + debug_string(id.hash) + ")";
}

// The identifier itself when this thread decoded no equal one lately, else
// a copy of that one, sharing its bytes.
UserId recently_decoded(UserId id);

// The random bytes from which group and grant identifiers are derived.
struct IdSeed {
  cord::CompactBytes bytes;

  static constexpr auto cord_fields() { return std::tuple{&IdSeed::bytes}; }
  auto operator<=>(const IdSeed&) const = default;
};

// The pre-image of a UserId.
struct UserIdInputV1 {
  cord::Bytes signing_public_key;
  cord::Bytes encryption_public_key;

  static constexpr auto cord_fields() {
    return std::tuple{&UserIdInputV1::signing_public_key, &UserIdInputV1::encryption_public_key};
  }
  auto operator<=>(const UserIdInputV1&) const = default;
};

// A user or a group: grantee, group member, key of the authority map.
// Users order before groups.
namespace principal_ref {
using User = UserId;
using Group = GroupId;
}  // namespace principal_ref
using PrincipalRefV1 = std::variant<principal_ref::User, principal_ref::Group>;

// The pre-image of a GroupMemberId.
struct GroupMemberIdInputV1 {
  GroupId group_id;
  PrincipalRefV1 member;

  static constexpr auto cord_fields() {
    return std::tuple{&GroupMemberIdInputV1::group_id, &GroupMemberIdInputV1::member};
  }
  auto operator<=>(const GroupMemberIdInputV1&) const = default;
};

}  // namespace morvik::core

// A vault names its few users over and over: decoded, each is held once
// however often it is named.
template <>
struct morvik::cord::Codec<morvik::core::UserId> : DefaultCodec<morvik::core::UserId> {
  static Result<morvik::core::UserId> read(CordDeserializer& d) {
    auto id = DefaultCodec<morvik::core::UserId>::read(d);
    if (!id) return id;
    return morvik::core::recently_decoded(std::move(*id));
  }
};
