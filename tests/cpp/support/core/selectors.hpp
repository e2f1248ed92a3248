#pragma once

// Short builders of selectors and permissions. They keep lists in the order
// given: pass them sorted for a canonical value, unsorted to break one.

#include <string>
#include <utility>
#include <vector>

#include "core/selectors.hpp"

namespace morvik::testing {

using Segments = std::vector<cord::CompactText>;

// A secret selector; labels as key-value pairs.
inline core::SecretSelectorV1 secret(Segments tuple, std::vector<std::pair<std::string, std::string>> labels = {}) {
  core::SecretSelectorV1 selector{std::move(tuple), {}};
  for (auto& [key, value] : labels) selector.labels.push_back(core::SecretLabelV1{std::move(key), std::move(value)});
  return selector;
}

// Label matchers.
inline core::KeyspaceLabelMatcherV1 present(cord::CompactText key) {
  return {std::move(key), core::label_matcher::Present{}};
}
inline core::KeyspaceLabelMatcherV1 equals(cord::CompactText key, cord::CompactText value) {
  return {std::move(key), core::label_matcher::Equals{std::move(value)}};
}
inline core::KeyspaceLabelMatcherV1 in(cord::CompactText key, Segments values) {
  return {std::move(key), core::label_matcher::In{std::move(values)}};
}
inline core::KeyspaceLabelMatcherV1 absent(cord::CompactText key) { return {std::move(key), core::label_matcher::Absent{}}; }

// Keyspaces by their tuple matcher.
inline core::KeyspaceSelectorV1 any_keyspace(std::vector<core::KeyspaceLabelMatcherV1> labels = {}) {
  return {core::tuple_matcher::Any{}, std::move(labels)};
}
inline core::KeyspaceSelectorV1 exact(Segments tuple, std::vector<core::KeyspaceLabelMatcherV1> labels = {}) {
  return {core::tuple_matcher::Exact{std::move(tuple)}, std::move(labels)};
}
inline core::KeyspaceSelectorV1 prefix(Segments tuple, std::vector<core::KeyspaceLabelMatcherV1> labels = {}) {
  return {core::tuple_matcher::Prefix{std::move(tuple)}, std::move(labels)};
}

// Grant classes.
inline const core::KeyspaceGrantClassV1 kRead = core::keyspace_grant_class::Read{};
inline const core::KeyspaceGrantClassV1 kWrite = core::keyspace_grant_class::Write{};
inline const core::KeyspaceGrantClassV1 kManage = core::keyspace_grant_class::Manage{};

// Permissions.
inline core::GrantPermissionV1 read_permission(core::KeyspaceSelectorV1 keyspace) {
  return core::grant_permission::Read{std::move(keyspace)};
}
inline core::GrantPermissionV1 write_permission(core::KeyspaceSelectorV1 keyspace) {
  return core::grant_permission::Write{std::move(keyspace)};
}
inline core::GrantPermissionV1 manage_permission(core::KeyspaceSelectorV1 keyspace,
                                                 std::vector<core::KeyspaceGrantClassV1> grantable) {
  return core::grant_permission::Manage{std::move(keyspace), std::move(grantable)};
}
inline core::GrantPermissionV1 admin_permission() { return core::grant_permission::Admin{}; }

}  // namespace morvik::testing
