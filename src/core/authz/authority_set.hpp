#pragma once

// What one principal may do: the keyspaces it may read, write and manage,
// and whether it administers the vault.

#include <algorithm>
#include <vector>

#include "core/selectors.hpp"

namespace morvik::core::authz {

struct AuthoritySet {
  std::vector<KeyspaceSelectorV1> read;
  std::vector<KeyspaceSelectorV1> write;
  // Each also lets its holder read and write its keyspace.
  std::vector<ManageKeyspaceGrantV1> manage;
  // Every check answers yes.
  bool admin = false;

  // The root user's authority: everything, everywhere.
  static AuthoritySet root();

  bool can_read(const SecretSelectorV1& secret) const;
  bool can_write(const SecretSelectorV1& secret) const;
  // The right to create, or delete, a grant carrying `permission`.
  bool can_create_permission(const GrantPermissionV1& permission) const;

  bool operator==(const AuthoritySet&) const = default;
};

// Appends a copy of `item` unless an equal element is already present;
// answers whether it appended.
template <class T>
bool push_unique(std::vector<T>& list, const T& item) {
  if (std::find(list.begin(), list.end(), item) != list.end()) return false;
  list.push_back(item);
  return true;
}

}  // namespace morvik::core::authz
