#include <gtest/gtest.h>

#include "core/authz/authority_set.hpp"
#include "support/core/selectors.hpp"

namespace morvik::core::authz {
namespace {

using namespace morvik::testing;

AuthoritySet with_manage(KeyspaceSelectorV1 keyspace, std::vector<KeyspaceGrantClassV1> grantable) {
  AuthoritySet set;
  set.manage.push_back(ManageKeyspaceGrantV1{std::move(keyspace), std::move(grantable)});
  return set;
}

TEST(AuthoritySetTest, RootHoldsEverythingOnce) {
  const AuthoritySet root = AuthoritySet::root();
  EXPECT_EQ(root.read, std::vector{any_keyspace()});
  EXPECT_EQ(root.write, std::vector{any_keyspace()});
  const std::vector<ManageKeyspaceGrantV1> everything{{any_keyspace(), {kRead, kWrite, kManage}}};
  EXPECT_EQ(root.manage, everything);
  EXPECT_TRUE(root.admin);

  for (const auto& s : {secret({}), secret({"app", "db"}, {{"env", "prod"}})}) {
    EXPECT_TRUE(root.can_read(s));
    EXPECT_TRUE(root.can_write(s));
  }
  for (const auto& p : {read_permission(any_keyspace()), write_permission(prefix({"x"})),
                        manage_permission(any_keyspace(), {kRead, kWrite, kManage}), admin_permission()}) {
    EXPECT_TRUE(root.can_create_permission(p));
  }
}

TEST(AuthoritySetTest, EmptySetAnswersNo) {
  const AuthoritySet none;
  EXPECT_FALSE(none.can_read(secret({})));
  EXPECT_FALSE(none.can_write(secret({})));
  for (const auto& p : {read_permission(exact({"a"})), write_permission(exact({"a"})),
                        manage_permission(exact({"a"}), {kRead}), admin_permission()}) {
    EXPECT_FALSE(none.can_create_permission(p));
  }
}

TEST(AuthoritySetTest, ReadWriteAndManageKeyspaces) {
  AuthoritySet reader;
  reader.read.push_back(prefix({"app"}));
  EXPECT_TRUE(reader.can_read(secret({"app", "db"})));
  EXPECT_FALSE(reader.can_read(secret({"web"})));
  EXPECT_FALSE(reader.can_write(secret({"app", "db"})));

  AuthoritySet writer;
  writer.write.push_back(prefix({"app"}));
  EXPECT_TRUE(writer.can_read(secret({"app", "db"})));
  EXPECT_TRUE(writer.can_write(secret({"app", "db"})));
  EXPECT_FALSE(writer.can_write(secret({"web"})));

  // A manage grant opens its keyspace to its holder whatever classes it lists.
  const AuthoritySet manager = with_manage(prefix({"app"}), {kRead});
  EXPECT_TRUE(manager.can_read(secret({"app", "db"})));
  EXPECT_TRUE(manager.can_write(secret({"app", "db"})));
  EXPECT_FALSE(manager.can_write(secret({"web"})));
}

TEST(AuthoritySetTest, WritingEverywhereGrantsNothing) {
  AuthoritySet writer;
  writer.read.push_back(any_keyspace());
  writer.write.push_back(any_keyspace());
  EXPECT_TRUE(writer.can_write(secret({"anything"}, {{"env", "prod"}})));
  for (const auto& p : {read_permission(exact({"a"})), write_permission(exact({"a"})),
                        manage_permission(exact({"a"}), {kRead}), admin_permission()}) {
    EXPECT_FALSE(writer.can_create_permission(p));
  }
}

TEST(AuthoritySetTest, ManageGrantHandsOnItsClassesWithinItsKeyspace) {
  struct Case {
    const char* name;
    AuthoritySet holder;
    GrantPermissionV1 permission;
    bool expected;
  };
  const Case cases[] = {
      {"read within", with_manage(prefix({"app"}), {kRead}), read_permission(exact({"app", "db"})), true},
      {"read of the whole keyspace", with_manage(prefix({"app"}), {kRead}), read_permission(prefix({"app"})), true},
      {"read beyond", with_manage(prefix({"app"}), {kRead}), read_permission(any_keyspace()), false},
      {"write without the class", with_manage(prefix({"app"}), {kRead}), write_permission(exact({"app"})), false},
      {"manage without the class", with_manage(prefix({"app"}), {kRead}),
       manage_permission(prefix({"app", "db"}), {kRead}), false},
      {"write with the class", with_manage(prefix({"app"}), {kWrite}), write_permission(prefix({"app", "db"})), true},
      {"read without the class", with_manage(prefix({"app"}), {kWrite}), read_permission(exact({"app"})), false},
      {"manage of held classes", with_manage(prefix({"app"}), {kRead, kManage}),
       manage_permission(prefix({"app", "db"}), {kRead, kManage}), true},
      {"manage of a class not held", with_manage(prefix({"app"}), {kRead, kManage}),
       manage_permission(prefix({"app", "db"}), {kWrite}), false},
      {"manage of some class not held", with_manage(prefix({"app"}), {kRead, kManage}),
       manage_permission(prefix({"app"}), {kRead, kWrite}), false},
      {"manage beyond the keyspace", with_manage(prefix({"app"}), {kRead, kManage}),
       manage_permission(any_keyspace(), {kRead}), false},
      {"labels narrow the keyspace", with_manage(any_keyspace({equals("env", "dev")}), {kRead}),
       read_permission(any_keyspace({equals("env", "prod")})), false},
      {"admin needs admin", with_manage(any_keyspace(), {kRead, kWrite, kManage}), admin_permission(), false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.holder.can_create_permission(c.permission), c.expected) << c.name;
}

TEST(AuthoritySetTest, EveryManageGrantIsConsidered) {
  AuthoritySet holder = with_manage(prefix({"web"}), {kRead, kWrite, kManage});
  holder.manage.push_back(ManageKeyspaceGrantV1{prefix({"app"}), {kWrite}});
  EXPECT_TRUE(holder.can_create_permission(write_permission(exact({"app", "db"}))));
  EXPECT_FALSE(holder.can_create_permission(read_permission(exact({"app", "db"}))));
}

TEST(AuthoritySetTest, PushUniqueKeepsOneOfEach) {
  std::vector<ManageKeyspaceGrantV1> manage;
  const ManageKeyspaceGrantV1 grant{prefix({"app"}, {present("env")}), {kRead}};
  EXPECT_TRUE(push_unique(manage, grant));
  EXPECT_FALSE(push_unique(manage, grant));
  // Any difference, down to the listed classes, makes another grant.
  EXPECT_TRUE(push_unique(manage, ManageKeyspaceGrantV1{prefix({"app"}, {present("env")}), {kRead, kWrite}}));
  ASSERT_EQ(manage.size(), 2u);
  EXPECT_EQ(manage[0], grant);
}

}  // namespace
}  // namespace morvik::core::authz
