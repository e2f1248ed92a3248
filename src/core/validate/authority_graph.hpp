#pragma once

// Every principal's authority, each part held once: what a principal's own
// grants give it, and the groups it is a member of, whose authority it
// shares instead of holding a copy. Memory grows with the principals, grants
// and memberships, not with their product. Each part is indexed by keyspace;
// a user reaching lists through more than one group gets, at its first
// question, one index over all it reaches, which its later questions share.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "core/authz/authority_set.hpp"
#include "core/authz/indexed_authority.hpp"
#include "core/ids.hpp"

namespace morvik::core::validate {

// Users before groups, then identifier bytes. A bare UserId finds its user's
// entry without building a principal, which every signer lookup would do.
struct PrincipalOrder {
  using is_transparent = void;
  bool operator()(const PrincipalRefV1& a, const PrincipalRefV1& b) const { return a < b; }
  bool operator()(const PrincipalRefV1& a, const UserId& b) const {
    const auto* user = std::get_if<principal_ref::User>(&a);
    return user && *user < b;
  }
  bool operator()(const UserId& a, const PrincipalRefV1& b) const {
    const auto* user = std::get_if<principal_ref::User>(&b);
    return !user || a < *user;
  }
};

// Each principal's authority written out in full.
using AuthorityMap = std::map<PrincipalRefV1, authz::AuthoritySet, PrincipalOrder>;
// The same, indexed, each entry shareable between graphs.
using SharedAuthority = std::shared_ptr<const authz::IndexedAuthority>;
using IndexedAuthorityMap = std::map<PrincipalRefV1, SharedAuthority, PrincipalOrder>;

IndexedAuthorityMap index_authorities(AuthorityMap authorities);

class AuthorityGraph;

// What one user may do, answered as its whole AuthoritySet would answer.
class AuthorityView {
 public:
  bool admin() const;
  bool can_read(const SecretSelectorV1& secret) const;
  bool can_write(const SecretSelectorV1& secret) const;
  bool can_create_permission(const GrantPermissionV1& permission) const;

 private:
  friend class AuthorityGraph;
  AuthorityView(const AuthorityGraph* graph, std::optional<std::uint32_t> node) : graph_(graph), node_(node) {}

  // Whether `holds` answers yes for what the user holds of its own or
  // through its groups.
  template <class Holds>
  bool any_reached(Holds holds) const;

  const AuthorityGraph* graph_;
  std::optional<std::uint32_t> node_;
};

class AuthorityGraph {
 public:
  AuthorityGraph() = default;
  // `own`: what each principal holds of its own (an entry made for a grantee
  // even when its grants add nothing); `memberships`: the live memberships,
  // in identifier order.
  AuthorityGraph(AuthorityMap own, std::vector<GroupMemberIdInputV1> memberships = {});
  // The same from entries indexed already, which the graph shares.
  AuthorityGraph(IndexedAuthorityMap own, std::vector<GroupMemberIdInputV1> memberships = {});

  AuthorityView of(const UserId& user_id) const;
  // The principal's whole authority, its lists in the order the groups'
  // repeated passes over the memberships append them; the empty set for a
  // principal that holds none. Costs what the principal reaches.
  authz::AuthoritySet materialize(const PrincipalRefV1& principal) const;

  // Equal principals, authority and memberships; the indexes are not
  // compared.
  bool operator==(const AuthorityGraph& other) const;

 private:
  friend class AuthorityView;
  using Index = std::uint32_t;

  struct Node {
    // What it holds of its own; none for a principal without an entry.
    SharedAuthority own;
    // Admin itself or through a group.
    bool admin = false;
    // Groups it is a member of.
    std::vector<Index> groups;
    // The nearest groups it reaches that hold something of their own or
    // reach several such: all a question has to look at.
    std::vector<Index> sources;

    bool operator==(const Node& other) const;
  };

  // The indexes over all that a node reaches through several groups, made
  // at its first question; shared by copies of the graph, which never
  // changes once made.
  struct ReachedIndexes {
    std::mutex mutex;
    std::map<Index, std::shared_ptr<const authz::IndexedAuthority>> of;
  };

  std::optional<Index> find(const PrincipalRefV1& principal) const;
  std::vector<Index> reached_from(Index start) const;
  const authz::IndexedAuthority& reached_authority(Index node) const;

  // Every principal holding an entry or named by a membership, in principal
  // order, and its node at the same position.
  std::vector<PrincipalRefV1> principals_;
  std::vector<Node> nodes_;
  // (group, member) of each live membership, in identifier order.
  std::vector<std::pair<Index, Index>> memberships_;
  std::shared_ptr<ReachedIndexes> reached_ = std::make_shared<ReachedIndexes>();
};

}  // namespace morvik::core::validate
