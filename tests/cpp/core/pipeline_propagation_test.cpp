// Authority propagation against the plain passes it must agree with, lists
// in the same order, on random graphs with nesting, cycles, self-membership
// and groups that hold nothing; and on a deep chain and many grants. The
// shared form of the authorities against the same passes: every answer and
// every authority written out.

#include <gtest/gtest.h>

#include <random>

#include "core/validate/authority_graph.hpp"
#include "core/validate/authority_propagation.hpp"
#include "support/core/selectors.hpp"

namespace morvik::testing {
namespace {

using core::validate::AuthorityMap;
using core::validate::SelectedAuthorizedRecords;

template <class Id>
Id id_of(std::uint8_t kind, std::uint32_t n) {
  return Id{core::HashValue{{kind, std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)}}};
}
core::UserId user(std::uint32_t n) { return id_of<core::UserId>(1, n); }
core::GroupId group(std::uint32_t n) { return id_of<core::GroupId>(2, n); }

void add_grant(SelectedAuthorizedRecords& selection, core::PrincipalRefV1 grantee, core::GrantPermissionV1 permission) {
  const auto id = id_of<core::GrantId>(3, static_cast<std::uint32_t>(selection.grants.size()));
  selection.grants.emplace(id, core::GrantRecordV1{id, {}, std::move(grantee), std::move(permission), 1});
}

void add_member(SelectedAuthorizedRecords& selection, std::uint32_t id_order, const core::GroupId& of,
                core::PrincipalRefV1 member) {
  const auto id = id_of<core::GroupMemberId>(4, id_order);
  selection.members.emplace(id, core::GroupMemberRecordV1{id, of, std::move(member), 1});
}

// The passes written plainly: grants in identifier order, then whole passes
// over the memberships, each merging a copy of the group's entry, until a
// pass changes nothing.
AuthorityMap plain_passes(const core::UserId& root, const SelectedAuthorizedRecords& selection) {
  AuthorityMap authorities;
  authorities.emplace(root, core::authz::AuthoritySet::root());
  for (const auto& [id, grant] : selection.grants) {
    auto& entry = authorities[grant.grantee];
    std::visit(
        [&](const auto& p) {
          using P = std::decay_t<decltype(p)>;
          if constexpr (std::is_same_v<P, core::grant_permission::Read>) {
            core::authz::push_unique(entry.read, p.value);
          } else if constexpr (std::is_same_v<P, core::grant_permission::Write>) {
            core::authz::push_unique(entry.write, p.value);
          } else if constexpr (std::is_same_v<P, core::grant_permission::Manage>) {
            core::authz::push_unique(entry.manage, p);
          } else {
            entry.admin = true;
          }
        },
        grant.permission);
  }
  for (bool changed = !selection.members.empty(); changed;) {
    changed = false;
    for (const auto& [id, membership] : selection.members) {
      auto found = authorities.find(core::PrincipalRefV1(membership.group_id));
      if (found == authorities.end()) continue;
      const auto inherited = found->second;
      auto& member = authorities[membership.member];
      for (const auto& s : inherited.read) changed |= core::authz::push_unique(member.read, s);
      for (const auto& s : inherited.write) changed |= core::authz::push_unique(member.write, s);
      for (const auto& m : inherited.manage) changed |= core::authz::push_unique(member.manage, m);
      if (inherited.admin && !member.admin) changed = member.admin = true;
    }
  }
  return authorities;
}

core::PrincipalRefV1 principal(std::mt19937& random, std::uint32_t users, std::uint32_t groups) {
  const auto n = random() % (users + groups);
  return n < users ? core::PrincipalRefV1(user(n)) : core::PrincipalRefV1(group(n - users));
}

SelectedAuthorizedRecords random_selection(std::mt19937& random, std::uint32_t users, std::uint32_t groups) {
  SelectedAuthorizedRecords selection;
  for (auto n = random() % 8; n > 0; --n) {
    const auto keyspace = prefix({std::string(1, char('a' + random() % 4))});
    core::GrantPermissionV1 permission;
    switch (random() % 4) {
      case 0: permission = read_permission(keyspace); break;
      case 1: permission = write_permission(keyspace); break;
      case 2: permission = manage_permission(keyspace, {kRead}); break;
      default: permission = admin_permission(); break;
    }
    add_grant(selection, principal(random, users, groups), std::move(permission));
  }
  for (auto n = random() % 12; n > 0; --n) {
    add_member(selection, random() % 64, group(random() % groups), principal(random, users, groups));
  }
  return selection;
}

TEST(AuthorityPropagationTest, AgreesWithThePlainPassesOnRandomGraphs) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    const std::uint32_t users = 1 + random() % 4;
    const std::uint32_t groups = 1 + random() % 6;
    const auto selection = random_selection(random, users, groups);
    EXPECT_EQ(core::validate::propagate_authority(user(0), selection), plain_passes(user(0), selection))
        << "round " << round;
  }
}

TEST(AuthorityPropagationTest, ADeepChainAndManyGrantsReachTheBottom) {
  constexpr std::uint32_t kDepth = 3000;
  constexpr std::uint32_t kGrants = 3000;
  SelectedAuthorizedRecords selection;
  // Group n is a member of group n - 1; membership identifiers run against
  // the chain, so that the plain passes move one level per pass.
  for (std::uint32_t n = 1; n < kDepth; ++n) add_member(selection, kDepth - n, group(n - 1), group(n));
  add_member(selection, 0, group(kDepth - 1), user(1));
  add_grant(selection, group(0), read_permission(prefix({"app"})));
  add_grant(selection, group(0), admin_permission());
  for (std::uint32_t n = 0; n < kGrants; ++n) {
    add_grant(selection, user(2), write_permission(prefix({"app", std::to_string(n)})));
  }

  const auto authorities = core::validate::propagate_authority(user(0), selection);
  const auto& bottom = authorities.at(user(1));
  EXPECT_TRUE(bottom.admin);
  EXPECT_EQ(bottom.read, std::vector<core::KeyspaceSelectorV1>{prefix({"app"})});
  const auto& granted = authorities.at(user(2)).write;
  ASSERT_EQ(granted.size(), kGrants);
  // Grants apply in identifier order, which here is the order made.
  for (std::uint32_t n = 0; n < kGrants; ++n) EXPECT_EQ(granted[n], prefix({"app", std::to_string(n)}));
  EXPECT_EQ(authorities.size(), kDepth + 3);
}

TEST(AuthorityGraphTest, AnswersAndWritesOutWhatThePlainPassesGive) {
  const std::vector<core::SecretSelectorV1> secrets{secret({"a"}), secret({"a", "x"}), secret({"b", "y"}),
                                                    secret({"c"}), secret({"e"})};
  const std::vector<core::GrantPermissionV1> permissions{
      read_permission(prefix({"a", "x"})), read_permission(prefix({"b"})), write_permission(prefix({"c"})),
      manage_permission(prefix({"a"}), {kRead}), admin_permission()};
  std::mt19937 random(31);
  for (int round = 0; round < 1000 && !HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::uint32_t users = 1 + random() % 4;
    const std::uint32_t groups = 1 + random() % 8;
    const auto selection = random_selection(random, users, groups);
    const auto plain = plain_passes(user(0), selection);
    const core::validate::AuthorityGraph graph(core::validate::own_authority(user(0), selection.grants),
                                               core::validate::live_memberships(selection.members));
    for (std::uint32_t n = 0; n < users + groups; ++n) {
      const auto who = n < users ? core::PrincipalRefV1(user(n)) : core::PrincipalRefV1(group(n - users));
      const auto found = plain.find(who);
      const auto expected = found == plain.end() ? core::authz::AuthoritySet{} : found->second;
      EXPECT_EQ(graph.materialize(who), expected);
      if (n >= users) continue;
      const auto view = graph.of(user(n));
      EXPECT_EQ(view.admin(), expected.admin);
      for (const auto& s : secrets) {
        EXPECT_EQ(view.can_read(s), expected.can_read(s));
        EXPECT_EQ(view.can_write(s), expected.can_write(s));
      }
      for (const auto& p : permissions) EXPECT_EQ(view.can_create_permission(p), expected.can_create_permission(p));
    }
  }
}

// Many groups, each a member of one group holding many grants: each holds
// a reference to that group, not a copy of its grants, and a member of the
// last one still sees all of them.
TEST(AuthorityGraphTest, ManyGroupsShareOneGroupsGrants) {
  constexpr std::uint32_t kGroups = 2000;
  constexpr std::uint32_t kGrants = 2000;
  SelectedAuthorizedRecords selection;
  for (std::uint32_t n = 0; n < kGrants; ++n) {
    add_grant(selection, group(0), read_permission(prefix({"app", std::to_string(n)})));
  }
  for (std::uint32_t n = 1; n < kGroups; ++n) add_member(selection, n, group(0), group(n));
  add_member(selection, kGroups, group(kGroups - 1), user(1));
  const core::validate::AuthorityGraph graph(core::validate::own_authority(user(0), selection.grants),
                                             core::validate::live_memberships(selection.members));
  const auto view = graph.of(user(1));
  EXPECT_TRUE(view.can_read(secret({"app", "0"})));
  EXPECT_TRUE(view.can_read(secret({"app", std::to_string(kGrants - 1)})));
  EXPECT_FALSE(view.can_write(secret({"app", "0"})));
  EXPECT_EQ(graph.materialize(user(1)).read.size(), kGrants);
}

}  // namespace
}  // namespace morvik::testing
