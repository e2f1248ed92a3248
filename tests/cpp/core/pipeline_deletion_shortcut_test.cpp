// Applying a deletion without computing the state again, or following it
// through the kept rounds of the fixpoint, must give exactly what the plain
// pass gives, which computes the state again after every deletion,
// and so must authority rounds that resolve only the keys a round can
// change, against rounds that resolve every key: compared on random small
// vaults, with and without rollback floors. And a flood of deletions of
// unused grant ids still validates.

#include <gtest/gtest.h>

#include <random>

#include "core/validate/deletions.hpp"
#include "core/validate/effective.hpp"
#include "core/validate/watermarks.hpp"
#include "pipeline_helpers.hpp"
#include "support/core/sample_vaults.hpp"

namespace morvik::testing {
namespace {

using core::validate::DeletionUpdate;
using core::validate::EffectiveState;
using core::validate::ResolvedState;
using core::validate::RollbackFloors;
using core::validate::RoundUpdate;

void expect_same_state(const EffectiveState& fast, const EffectiveState& plain) {
  EXPECT_EQ(fast.max_counter, plain.max_counter);
  EXPECT_EQ(fast.records.size(), plain.records.size());
  EXPECT_EQ(fast.root_user_id, plain.root_user_id);
  EXPECT_EQ(fast.trusted_root, plain.trusted_root);
  EXPECT_EQ(fast.users, plain.users);
  EXPECT_EQ(fast.user_handles, plain.user_handles);
  EXPECT_EQ(fast.vault_handles, plain.vault_handles);
  EXPECT_EQ(fast.groups, plain.groups);
  EXPECT_EQ(fast.members, plain.members);
  EXPECT_EQ(fast.grants, plain.grants);
  EXPECT_EQ(fast.entry_points, plain.entry_points);
  EXPECT_EQ(fast.deleted_users, plain.deleted_users);
  EXPECT_EQ(fast.deleted_groups, plain.deleted_groups);
  EXPECT_EQ(fast.deleted_grants, plain.deleted_grants);
  EXPECT_EQ(fast.authorities, plain.authorities);
  EXPECT_EQ(fast.conflicts, plain.conflicts);
  EXPECT_EQ(fast.secret_winners, plain.secret_winners);
  EXPECT_EQ(fast.did_not_converge, plain.did_not_converge);
}

// Counters from a small range, so that writers often tie.
std::uint64_t counter(std::mt19937& random) { return 1 + random() % 3; }

core::GrantPermissionV1 random_permission(std::mt19937& random) {
  switch (random() % 5) {
    case 0: return read_permission(prefix({"app"}));
    case 1: return read_permission(prefix({"app", "db"}));
    case 2: return write_permission(prefix({"app"}));
    case 3: return manage_permission(prefix({"app"}), {kRead});
    default: return admin_permission();
  }
}

// A few users, groups, memberships and grants, and deletions of ids in use
// and not, signed by the root, by administrators, by managers and by users
// without authority.
void add_random_records(TestVault& vault, std::mt19937& random, std::size_t at_least = 4, std::size_t spread = 12) {
  std::vector<const crypto::Identity*> people{&vault.root()};
  for (auto seed = 2 + random() % 3; seed >= 2; --seed) people.push_back(&vault.add_user(std::uint8_t(seed), 1));
  auto person = [&]() -> const crypto::Identity& { return *people[random() % people.size()]; };
  auto principal = [&] { return random() % 3 ? user_ref(person()) : group_ref(id_seed(10 + random() % 3)); };
  // Grants mostly come from the root, so that authority is spread around.
  auto grantor = [&]() -> const crypto::Identity& { return random() % 2 ? vault.root() : person(); };

  for (auto n = at_least + random() % spread; n > 0; --n) {
    switch (random() % 10) {
      case 0: vault.add(grantor(), group_body(id_seed(10 + random() % 3), "team", counter(random))); break;
      case 1:
        vault.add(grantor(), group_member_body(group_id_of(id_seed(10 + random() % 3)), principal(), counter(random)));
        break;
      case 2:
      case 3:
        vault.add(grantor(),
                  grant_body(id_seed(20 + random() % 6), principal(), random_permission(random), counter(random)));
        break;
      case 4:
      case 5:
      case 6:
        // Ids 26 to 31 are never granted.
        vault.add(person(), grant_deleted_body(grant_id_of(id_seed(20 + random() % 12)), random_permission(random),
                                               counter(random)));
        break;
      case 7:
        vault.add(person(), group_deleted_body(group_id_of(id_seed(10 + random() % 5)), counter(random)));
        break;
      case 8: {
        // Seed 9 is never a user of the vault.
        const auto deleted = random() % 3 ? person().user_id : identity(9).user_id;
        vault.add(person(), user_deleted_body(deleted, counter(random)));
        break;
      }
      default:
        vault.add(person(),
                  group_member_deleted_body(group_id_of(id_seed(10 + random() % 3)), principal(), counter(random)));
        break;
    }
  }
}

// Administrators appointing one another, some through a group, and now and
// then a link that overwrites an earlier link's grant, or that lets in a
// user of its own: authority takes a round per link, and sometimes never
// settles.
void add_random_chain(TestVault& vault, std::mt19937& random) {
  const crypto::Identity* appointer = &vault.root();
  for (std::uint8_t link = 0, links = 2 + random() % 8; link < links; ++link) {
    const auto& admin = vault.add_user(std::uint8_t(40 + link), 1);
    const auto permission = random() % 6 ? admin_permission() : random_permission(random);
    // Seeds 30 to 39: the link's own grant, or an earlier link's.
    const auto seed = id_seed(std::uint8_t(30 + (random() % 5 ? link : random() % (link + 1))));
    if (random() % 4 == 0) {
      const auto group = id_seed(std::uint8_t(50 + link));
      vault.add(*appointer, group_body(group, "link", counter(random)));
      vault.add(*appointer, group_member_body(group_id_of(group), user_ref(admin), counter(random)));
      vault.add(*appointer, grant_body(seed, group_ref(group), permission, counter(random)));
    } else {
      vault.add(*appointer, grant_body(seed, user_ref(admin), permission, counter(random)));
    }
    // A user only the link's administrator lets in, and whom the root
    // grants something: the grant waits for the user.
    if (random() % 2) {
      const auto user = identity(std::uint8_t(60 + link));
      vault.add(user, entry_point_body(vault.root_user_id(), user, 1));
      vault.add(admin, user_body(user, counter(random)));
      const auto permission = random() % 2 ? admin_permission() : random_permission(random);
      vault.add(vault.root(), grant_body(id_seed(std::uint8_t(70 + link)), user_ref(user), permission, counter(random)));
    }
    appointer = &admin;
  }
}

// Users and a group appointed by the root, often more than once with the
// same permission, some of them revoking their own appointments and each
// other's, or deleted, and a user only an appointee lets in: an appointment
// the root gave twice lets a deletion of the other join a batch.
void add_random_appointments(TestVault& vault, std::mt19937& random) {
  std::vector<const crypto::Identity*> people;
  for (std::uint8_t seed = 80; seed < 83; ++seed) people.push_back(&vault.add_user(seed, 1));
  const auto newcomer = identity(83);
  vault.add(newcomer, entry_point_body(vault.root_user_id(), newcomer, 1));
  vault.add(*people[0], user_body(newcomer, counter(random)));
  people.push_back(&newcomer);
  auto person = [&]() -> const crypto::Identity& { return *people[random() % people.size()]; };
  const auto team = id_seed(98);
  vault.add(vault.root(), group_body(team, "team", 1));
  for (const auto* member : people) {
    if (random() % 2 == 0) continue;
    const auto& admitter = random() % 2 ? vault.root() : person();
    vault.add(admitter, group_member_body(group_id_of(team), user_ref(*member), counter(random)));
  }
  auto grantee = [&] { return random() % 4 ? user_ref(person()) : group_ref(team); };
  auto permission = [&] { return random() % 3 ? admin_permission() : random_permission(random); };
  for (auto n = 4 + random() % 8; n > 0; --n) {
    const auto seed = id_seed(std::uint8_t(90 + random() % 8));
    const auto& appointer = random() % 4 ? vault.root() : person();
    vault.add(appointer, grant_body(seed, grantee(), permission(), counter(random)));
  }
  for (auto n = 2 + random() % 8; n > 0; --n) {
    if (random() % 5 == 0) {
      vault.add(person(), user_deleted_body(person().user_id, counter(random)));
    } else {
      vault.add(person(),
                grant_deleted_body(grant_id_of(id_seed(std::uint8_t(90 + random() % 8))), permission(), counter(random)));
    }
  }
}

// The checked records of a vault, ready for resolution.
core::validate::CheckedRecords check(const TestVault& vault) {
  auto checked = core::validate::detail::check_record_set(core::validate::RecordSet::of(vault.store()).value(),
                                                          vault.trusted_root(), kCrypto, {});
  EXPECT_TRUE(checked.has_value() && checked->has_value());
  return std::move(checked).value().value();
}

// Floors as validation derives them: the keys a ratchet remembers above what
// the vault admits.
RollbackFloors floors_under(const std::map<core::RecordKey, std::uint64_t>& remembered,
                            const core::validate::AdmittedWatermarks& admitted) {
  RollbackFloors floors;
  for (const auto& [key, counter] : remembered) {
    const core::validate::AdmittedKey* found = admitted.find(key);
    if ((found ? found->counter : 0) < counter) floors.emplace(key, counter);
  }
  return floors;
}

bool is_deletion(const core::RecordBodyV1& body) {
  return std::holds_alternative<core::UserDeletedRecordV1>(body) ||
         std::holds_alternative<core::GroupDeletedRecordV1>(body) ||
         std::holds_alternative<core::GrantDeletedRecordV1>(body);
}

// Resolves the records with each shortcut and the plain way, expects the
// same deletions applied in the same order and the same state, and answers
// the plain outcome.
ResolvedState resolve_both_ways(const core::validate::SelectedRoot& root,
                                const std::vector<core::validate::VerifiedRecord>& records,
                                const RollbackFloors& floors = {}) {
  auto plain =
      resolve_effective_with_deletions(root, records, floors, DeletionUpdate::Recompute, RoundUpdate::Recompute);
  for (auto update : {DeletionUpdate::AlongTrajectory, DeletionUpdate::WhenNeeded}) {
    SCOPED_TRACE(update == DeletionUpdate::AlongTrajectory ? "along the trajectory" : "when needed");
    const auto fast = resolve_effective_with_deletions(root, records, floors, update);
    EXPECT_EQ(fast.applied, plain.applied);
    EXPECT_EQ(fast.order, plain.order);
    expect_same_state(fast.state, plain.state);
  }
  return plain;
}

using AddRecords = void (*)(TestVault&, std::mt19937&);

// Resolves random vaults both ways, without floors and then under the floors
// a ratchet remembering random keys would raise; answers how many floored
// deletions were applied. `first` adds records of a shape of its own before
// the random ones.
std::size_t compare_on_random_vaults(int rounds, std::uint32_t seed, std::size_t at_least, std::size_t spread,
                                     AddRecords first = nullptr) {
  std::mt19937 random(seed);
  std::size_t floored_deletions_applied = 0;
  for (int round = 0; round < rounds && !::testing::Test::HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TestVault vault;
    if (first) first(vault, random);
    add_random_records(vault, random, at_least, spread);
    auto checked = check(vault);
    const auto& root = checked.root;
    auto& records = checked.verified;
    if (random() % 8 == 0) {
      // Validation refuses a deletion of the root user before this point;
      // the resolution must still leave the root alone.
      const auto deletion = sign(vault.root(), user_deleted_body(vault.root_user_id(), counter(random)));
      records.push_back(core::validate::VerifiedRecord::of(deletion, core::record_key::User{vault.root_user_id()},
                                                           record_hash(deletion), vault.root_user_id()));
    }

    // The report is built from these two resolutions and the first one's
    // applied deletions.
    auto first = resolve_both_ways(root, records);
    std::map<core::RecordKey, std::uint64_t> remembered;
    for (auto n = random() % 4; n > 0; --n) {
      remembered[records[random() % records.size()].key] = 1 + random() % 4;
    }
    const auto floors = floors_under(remembered, admitted_watermarks(records, first.state, first.applied));
    const auto second = resolve_both_ways(root, records, floors);
    for (const auto& record : records) {
      floored_deletions_applied += is_deletion(*record.body) && floors.contains(record.key) &&
                                   second.applied.contains(record.hash);
    }
  }
  return floored_deletions_applied;
}

TEST(DeletionShortcutTest, GivesWhatRecomputingAfterEveryDeletionGives) {
  // The floors reached deletions that were applied all the same.
  EXPECT_GT(compare_on_random_vaults(300, 11, 4, 12), 0u);
}

// Longer histories, where many deletions qualify at once and some of them
// change what others may do.
TEST(DeletionShortcutTest, GivesWhatRecomputingGivesOnLongerHistories) {
  compare_on_random_vaults(150, 23, 20, 40);
}

TEST(DeletionShortcutTest, GivesWhatRecomputingGivesAlongDelegationChains) {
  compare_on_random_vaults(150, 37, 4, 20, add_random_chain);
}

TEST(DeletionShortcutTest, GivesWhatRecomputingGivesWhenTheRootGrantsAPermissionTwice) {
  compare_on_random_vaults(300, 53, 2, 8, add_random_appointments);
}

// Any deletions applied and any keys floored, not only those a validation
// would reach: the rounds must agree whatever they are given.
TEST(RoundShortcutTest, GivesWhatResolvingEveryKeyGives) {
  std::mt19937 random(41);
  int settled = 0;
  int unsettled = 0;
  for (int round = 0; round < 300 && !::testing::Test::HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TestVault vault;
    add_random_chain(vault, random);
    add_random_records(vault, random, 4, 20);
    const auto checked = check(vault);
    const auto& records = checked.verified;
    std::set<core::HashValue> applied;
    for (const auto& record : records) {
      if (is_deletion(*record.body) && random() % 2) applied.insert(record.hash);
    }
    RollbackFloors floors;
    for (auto n = random() % 3; n > 0; --n) floors[records[random() % records.size()].key] = 1;

    const core::validate::EffectiveInputs inputs(records, floors);
    const auto& root = checked.root;
    const core::UserRecordV1 root_user{root.user_id, root.signing_public_key, root.encryption_public_key, 0};
    const auto plain =
        core::validate::compute_effective_state(root_user, root.key_hash, inputs, applied, RoundUpdate::Recompute);
    const auto fast = core::validate::compute_effective_state(root_user, root.key_hash, inputs, applied);
    expect_same_state(fast, plain);
    ++(plain.did_not_converge ? unsettled : settled);
  }
  // Both ends of the fixpoint were reached.
  EXPECT_GT(settled, 0);
  EXPECT_GT(unsettled, 0);
}

// The shapes the shortcuts were made for: long delegation chains, and
// deletions that can each change who may make the next.
TEST(RoundShortcutTest, GivesWhatThePlainPassesGiveOnCostlyShapes) {
  for (auto shape : {VaultShape::Ordinary, VaultShape::DelegationChainDeletions, VaultShape::RepeatedAppointments,
                     VaultShape::DependentDeletions, VaultShape::FlipFlop, VaultShape::GroupsTimesGrants,
                     VaultShape::RevokedGrants}) {
    SCOPED_TRACE(std::string(shape_name(shape)));
    const auto checked = check(sample_vault(shape, 300));
    EXPECT_FALSE(resolve_both_ways(checked.root, checked.verified).state.did_not_converge);
  }
}

// Histories where following a deletion through the kept rounds has to
// reach beyond what the deletion touches directly. Each answers the applied
// deletions' hashes it expects, which the plain pass must agree with.
struct DelicateCase {
  const char* name;
  void (*build)(TestVault& vault);
  // Whether the vault settles once every deletion is applied.
  bool settles;
  // Keys to put under a rollback floor, by grant seed.
  std::vector<std::uint8_t> floored_grants = {};
};

const DelicateCase kDelicateCases[] = {
    {"authority reaches a principal of the region from a group outside it",
     [](TestVault& vault) {
       const auto& x = vault.add_user(2, 1);
       const auto& bystander = vault.add_user(3, 1);
       const auto admins = id_seed(10);
       vault.add(vault.root(), group_body(admins, "admins", 1));
       vault.add(vault.root(), group_member_body(group_id_of(admins), user_ref(x), 1));
       vault.add(vault.root(), grant_body(id_seed(11), group_ref(admins), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(12), user_ref(x), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(13), user_ref(bystander), read_permission(prefix({"a"})), 1));
       // X loses its own appointment, keeps the group's, and still deletes.
       vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(12)), admin_permission(), 2));
       vault.add(x, grant_deleted_body(grant_id_of(id_seed(13)), read_permission(prefix({"a"})), 3));
     },
     true},
    {"appointees who appoint each other after the root's appointment is deleted",
     [](TestVault& vault) {
       const auto& x = vault.add_user(2, 1);
       const auto& y = vault.add_user(3, 1);
       const auto& bystander = vault.add_user(4, 1);
       vault.add(vault.root(), grant_body(id_seed(11), user_ref(x), admin_permission(), 1));
       vault.add(x, grant_body(id_seed(12), user_ref(y), admin_permission(), 1));
       vault.add(y, grant_body(id_seed(13), user_ref(x), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(14), user_ref(bystander), read_permission(prefix({"a"})), 1));
       vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(11)), admin_permission(), 2));
       // From nothing, neither holds anything: this deletion never qualifies.
       vault.add(y, grant_deleted_body(grant_id_of(id_seed(14)), read_permission(prefix({"a"})), 3));
     },
     true},
    {"a deletion stops the rounds settling, a later one lets them settle",
     [](TestVault& vault) {
       const auto& x = vault.add_user(2, 1);
       const auto& y = vault.add_user(3, 1);
       const auto& z = vault.add_user(4, 1);
       // X and Y each outrank the other's appointment while appointed: the
       // rounds swing between both and neither, unless Z holds X's.
       vault.add(vault.root(), grant_body(id_seed(11), user_ref(x), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(12), user_ref(y), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(13), user_ref(z), admin_permission(), 1));
       vault.add(y, grant_body(id_seed(11), user_ref(x), read_permission(prefix({"a"})), 2));
       vault.add(x, grant_body(id_seed(12), user_ref(y), read_permission(prefix({"a"})), 2));
       vault.add(z, grant_body(id_seed(11), user_ref(x), admin_permission(), 5));
       vault.add(vault.root(), user_deleted_body(z.user_id, 2));
       vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(11)), admin_permission(), 6));
     },
     true},
    {"a deletion that leaves the rounds swinging",
     [](TestVault& vault) {
       const auto& x = vault.add_user(2, 1);
       const auto& y = vault.add_user(3, 1);
       const auto& z = vault.add_user(4, 1);
       vault.add(vault.root(), grant_body(id_seed(11), user_ref(x), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(12), user_ref(y), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(13), user_ref(z), admin_permission(), 1));
       vault.add(y, grant_body(id_seed(11), user_ref(x), read_permission(prefix({"a"})), 2));
       vault.add(x, grant_body(id_seed(12), user_ref(y), read_permission(prefix({"a"})), 2));
       vault.add(z, grant_body(id_seed(11), user_ref(x), admin_permission(), 5));
       vault.add(vault.root(), user_deleted_body(z.user_id, 2));
     },
     false},
    {"the last round comes later, then earlier",
     [](TestVault& vault) {
       const crypto::Identity* appointer = &vault.root();
       std::vector<const crypto::Identity*> chain;
       for (std::uint8_t link = 0; link < 6; ++link) {
         const auto& admin = vault.add_user(std::uint8_t(20 + link), 1);
         vault.add(*appointer, grant_body(id_seed(std::uint8_t(30 + link)), user_ref(admin), admin_permission(), 1));
         chain.push_back(&admin);
         appointer = &admin;
       }
       // V outranks the third link until the root deletes V; then the root
       // revokes the first link, and the chain's own deletion waits on it.
       const auto& v = vault.add_user(40, 1);
       vault.add(vault.root(), grant_body(id_seed(41), user_ref(v), admin_permission(), 1));
       vault.add(v, grant_body(id_seed(32), user_ref(*chain[2]), read_permission(prefix({"a"})), 2));
       vault.add(vault.root(), user_deleted_body(v.user_id, 2));
       vault.add(*chain[5], grant_deleted_body(grant_id_of(id_seed(41)), admin_permission(), 3));
       vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(30)), admin_permission(), 4));
       vault.add(*chain[4], grant_deleted_body(grant_id_of(id_seed(35)), admin_permission(), 5));
     },
     true},
    {"a nested group deleted",
     [](TestVault& vault) {
       const auto& x = vault.add_user(2, 1);
       const auto& bystander = vault.add_user(3, 1);
       const auto inner = id_seed(10);
       const auto outer = id_seed(11);
       vault.add(vault.root(), group_body(inner, "inner", 1));
       vault.add(vault.root(), group_body(outer, "outer", 1));
       vault.add(vault.root(), group_member_body(group_id_of(outer), group_ref(inner), 1));
       vault.add(vault.root(), group_member_body(group_id_of(inner), user_ref(x), 1));
       vault.add(vault.root(), grant_body(id_seed(12), group_ref(outer), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(13), user_ref(bystander), read_permission(prefix({"a"})), 1));
       vault.add(x, grant_deleted_body(grant_id_of(id_seed(13)), read_permission(prefix({"a"})), 4));
       vault.add(vault.root(), group_deleted_body(group_id_of(inner), 2));
       vault.add(x, grant_deleted_body(grant_id_of(id_seed(13)), read_permission(prefix({"a"})), 1));
     },
     true},
    {"a group that loses a grant passes the loss to its members",
     [](TestVault& vault) {
       const auto& x = vault.add_user(2, 1);
       const auto& y = vault.add_user(3, 1);
       const auto& bystander = vault.add_user(4, 1);
       const auto admins = id_seed(10);
       vault.add(vault.root(), group_body(admins, "admins", 1));
       vault.add(vault.root(), group_member_body(group_id_of(admins), user_ref(x), 1));
       vault.add(vault.root(), grant_body(id_seed(11), group_ref(admins), admin_permission(), 1));
       vault.add(x, grant_body(id_seed(12), user_ref(y), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(13), user_ref(bystander), read_permission(prefix({"a"})), 1));
       // Y is an administrator only through X, and X only through the group.
       vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(11)), admin_permission(), 2));
       vault.add(y, grant_deleted_body(grant_id_of(id_seed(13)), read_permission(prefix({"a"})), 3));
     },
     true},
    {"a grant waits for its grantee after its signer's authority has settled",
     [](TestVault& vault) {
       // U is let in at the fifth round, at the end of a chain of
       // administrators.
       const crypto::Identity* appointer = &vault.root();
       for (std::uint8_t link = 0; link < 3; ++link) {
         const auto& admin = vault.add_user(std::uint8_t(20 + link), 1);
         vault.add(*appointer, grant_body(id_seed(std::uint8_t(30 + link)), user_ref(admin), admin_permission(), 1));
         appointer = &admin;
       }
       const auto u = identity(40);
       vault.add(u, entry_point_body(vault.root_user_id(), u, 1));
       vault.add(*appointer, user_body(u, 1));
       // S's appointment is outranked for as long as V stands; once the root
       // deletes V, S appoints U as soon as U is let in.
       const auto& s = vault.add_user(41, 1);
       const auto& v = vault.add_user(42, 1);
       vault.add(vault.root(), grant_body(id_seed(43), user_ref(v), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(44), user_ref(s), admin_permission(), 1));
       vault.add(v, grant_body(id_seed(44), user_ref(s), read_permission(prefix({"s"})), 2));
       vault.add(s, grant_body(id_seed(45), user_ref(u), admin_permission(), 1));
       vault.add(vault.root(), user_deleted_body(v.user_id, 2));
       // Only an administrator U may delete the bystander's grant.
       const auto& bystander = vault.add_user(46, 1);
       vault.add(vault.root(), grant_body(id_seed(47), user_ref(bystander), admin_permission(), 1));
       vault.add(u, grant_deleted_body(grant_id_of(id_seed(47)), admin_permission(), 3));
     },
     true},
    {"a signer of the region whose kept authority catches up with its new one",
     [](TestVault& vault) {
       const auto& s = vault.add_user(2, 1);
       const auto& x = vault.add_user(3, 1);
       const auto& y = vault.add_user(4, 1);
       const auto& t = vault.add_user(5, 1);
       const auto& bystander = vault.add_user(6, 1);
       vault.add(vault.root(), grant_body(id_seed(11), user_ref(s), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(12), user_ref(x), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(13), user_ref(y), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(14), user_ref(bystander), read_permission(prefix({"a"})), 1));
       // X outranks S's appointment in the second round and Y outranks X's
       // in that round: S is an administrator in the first round, not the
       // second, and again from the third. Once X's appointment is deleted,
       // S is one throughout, yet S's grant to T still changes in the kept
       // rounds in the fourth, where only its own kept change wakes it; the
       // count it feeds shows when T's appointment is deleted in turn.
       vault.add(x, grant_body(id_seed(11), user_ref(s), read_permission(prefix({"a"})), 2));
       vault.add(y, grant_body(id_seed(12), user_ref(x), read_permission(prefix({"a"})), 2));
       vault.add(s, grant_body(id_seed(15), user_ref(t), admin_permission(), 1));
       vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(12)), admin_permission(), 3));
       vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(15)), admin_permission(), 4));
       // T is no administrator once its appointment is deleted.
       vault.add(t, grant_deleted_body(grant_id_of(id_seed(14)), read_permission(prefix({"a"})), 5));
     },
     true},
    {"a deletion under a rollback floor",
     [](TestVault& vault) {
       const auto& x = vault.add_user(2, 1);
       const auto& bystander = vault.add_user(3, 1);
       vault.add(vault.root(), grant_body(id_seed(11), user_ref(x), admin_permission(), 1));
       vault.add(vault.root(), grant_body(id_seed(12), user_ref(bystander), admin_permission(), 1));
       vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(11)), admin_permission(), 2));
       vault.add(x, grant_deleted_body(grant_id_of(id_seed(12)), admin_permission(), 3));
       vault.add(bystander, user_deleted_body(x.user_id, 4));
     },
     true,
     {11}},
};

TEST(DeletionTrajectoryTest, GivesWhatThePlainPassGivesInDelicateCases) {
  for (const auto& delicate : kDelicateCases) {
    SCOPED_TRACE(delicate.name);
    TestVault vault;
    delicate.build(vault);
    const auto checked = check(vault);
    RollbackFloors floors;
    for (auto seed : delicate.floored_grants) floors.emplace(core::record_key::Grant{grant_id_of(id_seed(seed))}, 9);
    const auto resolved = resolve_both_ways(checked.root, checked.verified, floors);
    EXPECT_EQ(resolved.state.did_not_converge, !delicate.settles);
  }
}

// Histories a vault's writers use stay far below the work limit: the
// deletions change each key's rounds about once.
TEST(DeletionWorkLimitTest, HonestHistoriesStayFarBelowIt) {
  for (auto shape : kVaultShapes) {
    if (shape == VaultShape::FlipFlop) continue;
    SCOPED_TRACE(std::string(shape_name(shape)));
    const auto checked = check(sample_vault(shape, 3000));
    const auto resolved = resolve_effective_with_deletions(checked.root, checked.verified, {});
    const core::validate::EffectiveInputs inputs(checked.verified, {});
    EXPECT_FALSE(resolved.work_limit_exceeded);
    EXPECT_LE(resolved.work, inputs.keys.size());
  }
}

core::IdSeed numbered_seed(std::uint32_t n, std::uint8_t fill) {
  cord::Bytes seed(32, fill);
  for (int i = 0; i < 4; ++i) seed[i] = std::uint8_t(n >> (8 * i));
  return core::IdSeed{std::move(seed)};
}

// What X's appointment switches on and off in a flip-flop whose steps
// change no key's outcome: grants X signs that a record of the root on the
// same key outranks, or groups under the team X is appointed through.
enum class Switched { OutrankedGrants, EmptySubgroups };

TestVault flip_flop_changing_no_outcome(Switched switched, std::uint32_t flips, std::uint32_t each) {
  TestVault vault;
  const auto& x = vault.add_user(2, 1);
  const auto& z = vault.add_user(3, 1);
  const auto appointment = numbered_seed(0, 0xF1);
  const auto team = numbered_seed(0, 0xF5);
  core::PrincipalRefV1 appointee = user_ref(x);
  if (switched == Switched::EmptySubgroups) {
    appointee = group_ref(team);
    vault.add(vault.root(), group_body(team, "team", 1));
    vault.add(vault.root(), group_member_body(group_id_of(team), user_ref(x), 1));
  }
  vault.add(vault.root(), grant_body(appointment, appointee, admin_permission(), 1));
  for (std::uint32_t i = 1; i <= flips; ++i) {
    const auto& v = vault.add_user(std::uint8_t(2 + 2 * i), 1);
    const auto& w = vault.add_user(std::uint8_t(3 + 2 * i), 1);
    const auto w_seed = numbered_seed(i, 0xF4);
    vault.add(vault.root(), grant_body(numbered_seed(i, 0xF3), user_ref(v), admin_permission(), 1));
    vault.add(vault.root(), grant_body(w_seed, user_ref(w), admin_permission(), 1));
    vault.add(v, grant_body(w_seed, user_ref(w), read_permission(prefix({"w"})), 2));
    vault.add(w, grant_body(appointment, appointee, admin_permission(), 2 * std::uint64_t{i} + 1));
    vault.add(x, grant_deleted_body(grant_id_of(appointment), admin_permission(), 2 * std::uint64_t{i}));
    vault.add(vault.root(), user_deleted_body(v.user_id, 2 * std::uint64_t{i} + 1));
  }
  for (std::uint32_t n = 0; n < each; ++n) {
    const auto seed = numbered_seed(n, 0xF2);
    if (switched == Switched::EmptySubgroups) {
      vault.add(vault.root(), group_body(seed, "sub", 1));
      vault.add(vault.root(), group_member_body(group_id_of(team), group_ref(seed), 1));
    } else {
      vault.add(x, grant_body(seed, user_ref(z), read_permission(prefix({"app", std::to_string(n)})), 1));
      vault.add(vault.root(), grant_body(seed, user_ref(z), read_permission(prefix({"app"})), 9));
    }
  }
  return vault;
}

// Each deletion switches hundreds of keys' or principals' inputs, whether
// or not their outcome follows: once the differences pass the limit (here
// without its fixed allowance, which a small vault never reaches), the
// deletions are not followed further and the state is the empty one. Under
// the same limit, the honest shapes pass.
TEST(DeletionWorkLimitTest, AFlipFlopHistoryIsStopped) {
  const std::pair<const char*, TestVault> flip_flops[] = {
      {"switching outcomes", sample_vault(VaultShape::FlipFlop, 1000)},
      {"outranked grants", flip_flop_changing_no_outcome(Switched::OutrankedGrants, 40, 300)},
      {"empty subgroups", flip_flop_changing_no_outcome(Switched::EmptySubgroups, 40, 300)},
  };
  for (const auto& [name, vault] : flip_flops) {
    SCOPED_TRACE(name);
    const auto checked = check(vault);
    const core::validate::EffectiveInputs inputs(checked.verified, {});
    const auto limit =
        core::validate::deletion_work_limit(inputs.keys.size()) - core::validate::deletion_work_limit(0);
    const auto stopped = resolve_effective_with_deletions(checked.root, checked.verified, {},
                                                          DeletionUpdate::AlongTrajectory, RoundUpdate::WhenChanged,
                                                          limit);
    EXPECT_TRUE(stopped.work_limit_exceeded);
    EXPECT_GT(stopped.work, limit);
    EXPECT_TRUE(stopped.state.did_not_converge);
    EXPECT_TRUE(stopped.state.grants.empty());
    // It stopped early: the plain pass applies every deletion.
    EXPECT_LT(stopped.order.size(), resolve_both_ways(checked.root, checked.verified).order.size());
  }
}

// A grant from anyone but the root can arrive rounds after the grant it
// repeats: until it does, the grantee's authority differs, and here that
// decides what the grantee's own deletions do.
TEST(DeletionShortcutTest, OnlyAGrantFromTheRootCoversAnother) {
  TestVault vault;
  const auto& appointee = vault.add_user(2, 1);
  const auto& appointer = vault.add_user(3, 1);
  const auto& bystander = vault.add_user(4, 1);
  const auto admins = id_seed(10);
  vault.add(vault.root(), group_body(admins, "admins", 1));
  vault.add(vault.root(), grant_body(id_seed(11), group_ref(admins), admin_permission(), 1));
  vault.add(vault.root(), group_member_body(group_id_of(admins), user_ref(appointer), 1));
  // The appointee ends the appointer's membership, which only the
  // appointee's authority keeps the appointer from.
  vault.add(appointee, group_member_deleted_body(group_id_of(admins), user_ref(appointer), 2));
  vault.add(vault.root(), grant_body(id_seed(12), user_ref(appointee), admin_permission(), 1));
  vault.add(appointer, grant_body(id_seed(13), user_ref(appointee), admin_permission(), 1));
  vault.add(vault.root(), grant_body(id_seed(14), user_ref(bystander), read_permission(prefix({"app"})), 1));
  // The appointee gives up the root's appointment, then deletes a grant.
  vault.add(appointee, grant_deleted_body(grant_id_of(id_seed(12)), admin_permission(), 2));
  vault.add(appointee, grant_deleted_body(grant_id_of(id_seed(14)), read_permission(prefix({"app"})), 3));

  const auto checked = check(vault);
  resolve_both_ways(checked.root, checked.verified);
}

TEST(DeletionShortcutTest, ADeletionThatQualifiesOnlyOnceAHigherOneIsAppliedIsFound) {
  TestVault vault;
  const auto& manager = vault.add_user(2, 1);
  const auto& writer = vault.add_user(3, 1);
  const auto app_read = read_permission(prefix({"app"}));
  vault.add(vault.root(), grant_body(id_seed(1), user_ref(manager), manage_permission(prefix({"app"}), {kRead}), 1));
  vault.add(vault.root(), grant_body(id_seed(2), user_ref(writer), write_permission(prefix({"app"})), 1));
  // Out of the manager's reach while the write grant is live; within it once
  // the grantee is deleted, which the root does later in last-writer-wins
  // order. That deletion is computed in full, and the scan starts over.
  vault.add(manager, grant_deleted_body(grant_id_of(id_seed(2)), app_read, 2));
  vault.add(vault.root(), user_deleted_body(writer.user_id, 3));

  const auto report = validate(vault);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.state.deleted_users, std::set<core::UserId>{writer.user_id});
  EXPECT_EQ(report.state.deleted_grants, std::set<core::GrantId>{grant_id_of(id_seed(2))});
}

core::GrantId unused_grant_id(std::uint32_t n) { return grant_id_of(numbered_seed(n, 0xee)); }

TEST(DeletionShortcutTest, AFloodOfDeletionsOfUnusedGrantsByAManagerValidates) {
  constexpr std::uint32_t kDeletions = 3000;
  TestVault vault;
  const auto& manager = vault.add_user(2, 1);
  const auto& reader = vault.add_user(3, 1);
  const auto app_read = read_permission(prefix({"app"}));
  vault.add(vault.root(), grant_body(id_seed(1), user_ref(manager), manage_permission(prefix({"app"}), {kRead}), 1));
  vault.add(manager, grant_body(id_seed(2), user_ref(reader), app_read, 2));
  for (std::uint32_t n = 0; n < kDeletions; ++n) {
    vault.add(manager, grant_deleted_body(unused_grant_id(n), app_read, 3));
  }
  // Among them, one deletion of a live grant, which is computed in full.
  vault.add(manager, grant_deleted_body(grant_id_of(id_seed(2)), app_read, 4));

  const auto report = validate(vault);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_FALSE(report.state.did_not_converge);
  const auto& deleted = report.state.deleted_grants;
  EXPECT_EQ(deleted.size(), kDeletions + 1);
  EXPECT_TRUE(deleted.contains(unused_grant_id(0)));
  EXPECT_TRUE(deleted.contains(unused_grant_id(kDeletions - 1)));
  EXPECT_TRUE(deleted.contains(grant_id_of(id_seed(2))));
  EXPECT_FALSE(report.state.grants.contains(grant_id_of(id_seed(2))));
  EXPECT_TRUE(report.state.grants.contains(grant_id_of(id_seed(1))));
  EXPECT_EQ(report.state.authority_for_user(reader.user_id), core::authz::AuthoritySet{});
  EXPECT_EQ(report.ratchet_update.watermarks.at(core::record_key::Grant{unused_grant_id(7)}), 3u);
  EXPECT_EQ(report.state.max_counter, 4u);
}

}  // namespace
}  // namespace morvik::testing
