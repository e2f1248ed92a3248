#pragma once

#include <string>
#include <variant>
#include <vector>

#include "cord/cord.hpp"

namespace morvik::core {

// One key-value label of a secret.
struct SecretLabelV1 {
  cord::CompactText key;
  cord::CompactText value;

  static constexpr auto cord_fields() { return std::tuple{&SecretLabelV1::key, &SecretLabelV1::value}; }
  auto operator<=>(const SecretLabelV1&) const = default;
};

// Names exactly one secret; its encoding is the pre-image of the SecretId,
// so label order is part of the secret's identity.
struct SecretSelectorV1 {
  std::vector<cord::CompactText> tuple;
  std::vector<SecretLabelV1> labels;

  static constexpr auto cord_fields() { return std::tuple{&SecretSelectorV1::tuple, &SecretSelectorV1::labels}; }
  auto operator<=>(const SecretSelectorV1&) const = default;
};

namespace tuple_matcher {
struct AnyTag;
struct ExactTag;
struct PrefixTag;
using Any = cord::Unit<AnyTag>;
using Exact = cord::Tagged<ExactTag, std::vector<cord::CompactText>>;
using Prefix = cord::Tagged<PrefixTag, std::vector<cord::CompactText>>;
}  // namespace tuple_matcher
using TupleMatcherV1 = std::variant<tuple_matcher::Any, tuple_matcher::Exact, tuple_matcher::Prefix>;

namespace label_matcher {
struct PresentTag;
struct EqualsTag;
struct InTag;
struct AbsentTag;
using Present = cord::Unit<PresentTag>;
using Equals = cord::Tagged<EqualsTag, cord::CompactText>;
// Boxed, so that a list of matchers stays compact.
using In = cord::Tagged<InTag, cord::Boxed<std::vector<cord::CompactText>>>;
using Absent = cord::Unit<AbsentTag>;
}  // namespace label_matcher
using LabelMatcherV1 = std::variant<label_matcher::Present, label_matcher::Equals, label_matcher::In, label_matcher::Absent>;

struct KeyspaceLabelMatcherV1 {
  cord::CompactText key;
  LabelMatcherV1 matcher;

  static constexpr auto cord_fields() {
    return std::tuple{&KeyspaceLabelMatcherV1::key, &KeyspaceLabelMatcherV1::matcher};
  }
  auto operator<=>(const KeyspaceLabelMatcherV1&) const = default;
};

// A set of secrets: a path matcher and label conditions that must all hold.
struct KeyspaceSelectorV1 {
  TupleMatcherV1 tuple;
  std::vector<KeyspaceLabelMatcherV1> labels;

  static constexpr auto cord_fields() { return std::tuple{&KeyspaceSelectorV1::tuple, &KeyspaceSelectorV1::labels}; }
  auto operator<=>(const KeyspaceSelectorV1&) const = default;
};

// Ordered Read, Write, Manage (variant order).
namespace keyspace_grant_class {
struct ReadTag;
struct WriteTag;
struct ManageTag;
using Read = cord::Unit<ReadTag>;
using Write = cord::Unit<WriteTag>;
using Manage = cord::Unit<ManageTag>;
}  // namespace keyspace_grant_class
using KeyspaceGrantClassV1 =
    std::variant<keyspace_grant_class::Read, keyspace_grant_class::Write, keyspace_grant_class::Manage>;

// The right to grant the listed classes inside a keyspace.
struct ManageKeyspaceGrantV1 {
  KeyspaceSelectorV1 keyspace;
  std::vector<KeyspaceGrantClassV1> grantable;

  static constexpr auto cord_fields() {
    return std::tuple{&ManageKeyspaceGrantV1::keyspace, &ManageKeyspaceGrantV1::grantable};
  }
  auto operator<=>(const ManageKeyspaceGrantV1&) const = default;
};

// What a grant confers.
namespace grant_permission {
struct ReadTag;
struct WriteTag;
struct AdminTag;
using Read = cord::Tagged<ReadTag, KeyspaceSelectorV1>;
using Write = cord::Tagged<WriteTag, KeyspaceSelectorV1>;
using Manage = ManageKeyspaceGrantV1;
using Admin = cord::Unit<AdminTag>;
}  // namespace grant_permission
using GrantPermissionV1 =
    std::variant<grant_permission::Read, grant_permission::Write, grant_permission::Manage, grant_permission::Admin>;

// The elements of the lists a vault can hold by the million.
static_assert(cord::decodes_compactly<cord::CompactText>);
static_assert(cord::decodes_compactly<SecretLabelV1>);
static_assert(cord::decodes_compactly<KeyspaceLabelMatcherV1>);
static_assert(cord::decodes_compactly<KeyspaceGrantClassV1>);

}  // namespace morvik::core

// Compiled once, in codecs.cpp.
MORVIK_CORD_EXTERN_CODEC(morvik::core::SecretSelectorV1);
MORVIK_CORD_EXTERN_CODEC(morvik::core::KeyspaceSelectorV1);
MORVIK_CORD_EXTERN_CODEC(morvik::core::GrantPermissionV1);
