#include "core/validate/authority_graph.hpp"

#include <algorithm>

#include "core/validate/authority_propagation.hpp"

namespace morvik::core::validate {
namespace {

bool holds_lists(const std::optional<authz::AuthoritySet>& own) {
  return own && (!own->read.empty() || !own->write.empty() || !own->manage.empty());
}

// The nodes a walk has met: a short list while it is short, a mark per
// node once it grows.
class Visited {
 public:
  explicit Visited(std::size_t nodes) : nodes_(nodes) {}

  // False when already met.
  bool insert(std::uint32_t node) {
    if (marks_.empty()) {
      if (std::find(few_.begin(), few_.end(), node) != few_.end()) return false;
      few_.push_back(node);
      if (few_.size() > kFew) {
        marks_.assign(nodes_, false);
        for (auto met : few_) marks_[met] = true;
      }
      return true;
    }
    if (marks_[node]) return false;
    marks_[node] = true;
    return true;
  }

 private:
  static constexpr std::size_t kFew = 32;
  std::size_t nodes_;
  std::vector<std::uint32_t> few_;
  std::vector<bool> marks_;
};

}  // namespace

AuthorityGraph::AuthorityGraph(AuthorityMap own, std::vector<GroupMemberIdInputV1> memberships) {
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
    if (nodes_[i].own && nodes_[i].own->admin) {
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
    if (nodes_[i].own) own.emplace(principals_[i], *nodes_[i].own);
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
  Visited visited(nodes.size());
  visited.insert(*node_);
  std::vector<std::uint32_t> stack(first.rbegin(), first.rend());
  while (!stack.empty()) {
    const auto at = stack.back();
    stack.pop_back();
    if (!visited.insert(at)) continue;
    if (held(at)) return true;
    const auto& next = nodes[at].sources;
    stack.insert(stack.end(), next.rbegin(), next.rend());
  }
  return false;
}

bool AuthorityView::can_read(const SecretSelectorV1& secret) const {
  return admin() || any_reached([&](const authz::AuthoritySet& own) { return own.can_read(secret); });
}

bool AuthorityView::can_write(const SecretSelectorV1& secret) const {
  return admin() || any_reached([&](const authz::AuthoritySet& own) { return own.can_write(secret); });
}

bool AuthorityView::can_create_permission(const GrantPermissionV1& permission) const {
  return admin() ||
         any_reached([&](const authz::AuthoritySet& own) { return own.can_create_permission(permission); });
}

}  // namespace morvik::core::validate
