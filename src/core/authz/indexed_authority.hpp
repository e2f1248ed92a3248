#pragma once

// An AuthoritySet with its lists indexed by keyspace: the same answers, found
// without walking every grant. The indexes are made at the first question,
// so a principal never asked about costs nothing more; shared, never moved,
// since the indexes point into the lists.

#include <mutex>

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
  struct Indexes {
    KeyspaceIndex read;
    KeyspaceIndex write;
    // By the manage grants' keyspaces.
    KeyspaceIndex manage;
  };
  const Indexes& indexes() const;

  AuthoritySet set_;
  mutable std::once_flag indexed_;
  mutable Indexes indexes_;
};

}  // namespace morvik::core::authz
