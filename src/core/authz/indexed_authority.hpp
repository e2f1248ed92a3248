#pragma once

// An AuthoritySet with its lists indexed by keyspace: the same answers, found
// without walking every grant. Built once and shared; it cannot move, since
// its indexes point into its lists.

#include "core/authz/authority_set.hpp"
#include "core/authz/keyspace_index.hpp"

namespace morvik::core::authz {

class IndexedAuthority {
 public:
  explicit IndexedAuthority(AuthoritySet set);
  IndexedAuthority(const IndexedAuthority&) = delete;
  IndexedAuthority& operator=(const IndexedAuthority&) = delete;

  const AuthoritySet& set() const { return set_; }

  bool can_read(const SecretSelectorV1& secret) const;
  bool can_write(const SecretSelectorV1& secret) const;
  bool can_create_permission(const GrantPermissionV1& permission) const;

 private:
  AuthoritySet set_;
  KeyspaceIndex read_;
  KeyspaceIndex write_;
  // By the manage grants' keyspaces.
  KeyspaceIndex manage_;
};

}  // namespace morvik::core::authz
