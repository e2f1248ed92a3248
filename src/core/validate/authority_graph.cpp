#include "core/validate/authority_graph.hpp"

#include <algorithm>

#include "core/validate/authority_propagation.hpp"

namespace morvik::core::validate {
namespace {

bool holds_lists(const SharedAuthority& own) {
  return own && (!own->set().read.empty() || !own->set().write.empty() || !own->set().manage.empty());
}

template <class T>
void append(std::vector<T>& to, const std::vector<T>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

}  // namespace

IndexedAuthorityMap index_authorities(AuthorityMap authorities) {
  IndexedAuthorityMap indexed;
  for (auto& [principal, set] : authorities) {
    indexed.emplace_hint(indexed.end(), principal, std::make_shared<const authz::IndexedAuthority>(std::move(set)));
  }
  return indexed;
}

bool AuthorityGraph::Node::operator==(const Node& other) const {
  const bool same_own = own == other.own || (own && other.own && own->set() == other.own->set());
  return same_own && admin == other.admin && groups == other.groups && sources == other.sources;
}

bool AuthorityGraph::operator==(const AuthorityGraph& other) const {
  return principals_ == other.principals_ && nodes_ == other.nodes_ && memberships_ == other.memberships_;
}

AuthorityGraph::AuthorityGraph(AuthorityMap own, std::vector<GroupMemberIdInputV1> memberships)
    : AuthorityGraph(index_authorities(std::move(own)), std::move(memberships)) {}

AuthorityGraph::AuthorityGraph(IndexedAuthorityMap own, std::vector<GroupMemberIdInputV1> memberships) {
  for (const auto& [principal, set] : own) principals_.push_back(principal);
  for (const auto& membership : memberships) {
    principals_.push_back(principal_ref::Group{membership.group_id});
    principals_.push_back(membership.member);
  }
  std::sort(principals_.begin(), principals_.end());
  principals_.erase(std::unique(principals_.begin(), principals_.end()), principals_.end());
  nodes_.resize(principals_.size());
  for (auto& [principal, set] : own) nodes_[*find(principal)].own = std::move(set);

  const std::size_t count = nodes_.size();
  std::vector<std::vector<Index>> members(count);
  memberships_.reserve(memberships.size());
  for (const auto& membership : memberships) {
    const Index group = *find(principal_ref::Group{membership.group_id});
    const Index member = *find(membership.member);
    memberships_.emplace_back(group, member);
    nodes_[member].groups.push_back(group);
    members[group].push_back(member);
  }

  // Admin passes down to every member, however deep.
  std::vector<Index> work;
  for (Index i = 0; i < count; ++i) {
    if (nodes_[i].own && nodes_[i].own->set().admin) {
      nodes_[i].admin = true;
      work.push_back(i);
    }
  }
  while (!work.empty()) {
    const Index group = work.back();
    work.pop_back();
    for (Index member : members[group]) {
      if (!nodes_[member].admin) {
        nodes_[member].admin = true;
        work.push_back(member);
      }
    }
  }

  // Which principals reach some list at all, themselves included.
  std::vector<bool> reaches(count, false);
  for (Index i = 0; i < count; ++i) {
    if (holds_lists(nodes_[i].own)) {
      reaches[i] = true;
      work.push_back(i);
    }
  }
  while (!work.empty()) {
    const Index group = work.back();
    work.pop_back();
    for (Index member : members[group]) {
      if (!reaches[member]) {
        reaches[member] = true;
        work.push_back(member);
      }
    }
  }

  // A principal holding no list itself and reaching lists through one group
  // only stands for that group's nearest source: walks skip it.
  std::vector<std::vector<Index>> reaching(count);
  for (Index i = 0; i < count; ++i) {
    for (Index group : nodes_[i].groups) {
      if (reaches[group] && std::find(reaching[i].begin(), reaching[i].end(), group) == reaching[i].end()) {
        reaching[i].push_back(group);
      }
    }
  }
  constexpr Index kUnknown = ~Index{0};
  std::vector<Index> stand_in(count, kUnknown);
  auto own_source = [&](Index i) { return holds_lists(nodes_[i].own) || reaching[i].size() != 1; };
  std::vector<Index> path;
  for (Index i = 0; i < count; ++i) {
    if (!reaches[i] || stand_in[i] != kUnknown) continue;
    Index at = i;
    path.clear();
    // Such a chain ends at a principal holding lists or reaching several:
    // one reaching lists through one group only cannot close a cycle.
    while (stand_in[at] == kUnknown && !own_source(at) && path.size() <= count) {
      path.push_back(at);
      at = reaching[at].front();
    }
    const Index found = stand_in[at] != kUnknown ? stand_in[at] : at;
    stand_in[at] = found;
    for (Index skipped : path) stand_in[skipped] = found;
  }
  for (Index i = 0; i < count; ++i) {
    auto& sources = nodes_[i].sources;
    for (Index group : reaching[i]) {
      const Index source = stand_in[group];
      if (std::find(sources.begin(), sources.end(), source) == sources.end()) sources.push_back(source);
    }
  }
}

std::optional<AuthorityGraph::Index> AuthorityGraph::find(const PrincipalRefV1& principal) const {
  auto it = std::lower_bound(principals_.begin(), principals_.end(), principal);
  if (it == principals_.end() || *it != principal) return std::nullopt;
  return static_cast<Index>(it - principals_.begin());
}

AuthorityView AuthorityGraph::of(const UserId& user_id) const {
  return AuthorityView(this, find(principal_ref::User{user_id}));
}

std::vector<AuthorityGraph::Index> AuthorityGraph::reached_from(Index start) const {
  std::vector<bool> met(nodes_.size(), false);
  std::vector<Index> reached{start};
  met[start] = true;
  for (std::size_t next = 0; next < reached.size(); ++next) {
    for (Index group : nodes_[reached[next]].groups) {
      if (!met[group]) {
        met[group] = true;
        reached.push_back(group);
      }
    }
  }
  return reached;
}

authz::AuthoritySet AuthorityGraph::materialize(const PrincipalRefV1& principal) const {
  const auto start = find(principal);
  if (!start) return {};
  // The passes over the memberships treat the part of the graph the
  // principal reaches as they treat it within the whole: nothing outside
  // reaches in.
  const auto reached = reached_from(*start);
  std::vector<bool> inside(nodes_.size(), false);
  AuthorityMap own;
  for (Index i : reached) {
    inside[i] = true;
    if (nodes_[i].own) own.emplace(principals_[i], nodes_[i].own->set());
  }
  std::vector<GroupMemberIdInputV1> memberships;
  for (const auto& [group, member] : memberships_) {
    if (inside[member]) {
      memberships.push_back({std::get<principal_ref::Group>(principals_[group]), principals_[member]});
    }
  }
  auto whole = pass_down(std::move(own), memberships);
  auto found = whole.find(principal);
  return found == whole.end() ? authz::AuthoritySet{} : std::move(found->second);
}

bool AuthorityView::admin() const { return node_ && graph_->nodes_[*node_].admin; }

const authz::IndexedAuthority& AuthorityGraph::reached_authority(Index node) const {
  std::lock_guard lock(reached_->mutex);
  auto& slot = reached_->of[node];
  if (slot) return *slot;
  // The lists of every source it reaches, however deep, each source once.
  authz::AuthoritySet all;
  std::vector<bool> met(nodes_.size(), false);
  met[node] = true;
  std::vector<Index> work(nodes_[node].sources.begin(), nodes_[node].sources.end());
  while (!work.empty()) {
    const Index at = work.back();
    work.pop_back();
    if (met[at]) continue;
    met[at] = true;
    if (const auto& own = nodes_[at].own) {
      append(all.read, own->set().read);
      append(all.write, own->set().write);
      append(all.manage, own->set().manage);
    }
    work.insert(work.end(), nodes_[at].sources.begin(), nodes_[at].sources.end());
  }
  slot = std::make_shared<const authz::IndexedAuthority>(std::move(all));
  return *slot;
}

template <class Holds>
bool AuthorityView::any_reached(Holds holds) const {
  if (!node_) return false;
  const auto& nodes = graph_->nodes_;
  auto held = [&](std::uint32_t i) { return nodes[i].own && holds(*nodes[i].own); };
  if (held(*node_)) return true;
  const auto& first = nodes[*node_].sources;
  if (first.empty()) return false;
  // The usual case: one group, which reaches nothing further.
  if (first.size() == 1 && nodes[first.front()].sources.empty()) return held(first.front());
  return holds(graph_->reached_authority(*node_));
}

bool AuthorityView::can_read(const SecretSelectorV1& secret) const {
  return admin() || any_reached([&](const authz::IndexedAuthority& own) { return own.can_read(secret); });
}

bool AuthorityView::can_write(const SecretSelectorV1& secret) const {
  return admin() || any_reached([&](const authz::IndexedAuthority& own) { return own.can_write(secret); });
}

bool AuthorityView::can_create_permission(const GrantPermissionV1& permission) const {
  return admin() ||
         any_reached([&](const authz::IndexedAuthority& own) { return own.can_create_permission(permission); });
}

}  // namespace morvik::core::validate
