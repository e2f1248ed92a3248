// Every secret of a workspace read by every kind of reader: the root, a
// writer with a read grant, a reader through a group, a member without
// authority, and a reader who joined after the values were sealed.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ops/session.hpp"
#include "support/ops/team_workspace.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using namespace morvik::testing;

constexpr std::uint8_t kErin = 5;

const std::string kUnauthorized = "secret is not decryptable for this identity: Unauthorized";
const std::string kNotSealedToReader = "secret is not decryptable for this identity: NotEncryptedForReader";
const std::string kMissing = "secret is missing";
const std::string kConflicted = "secret is conflicted and has no current value until the conflict is resolved";

const core::SecretSelectorV1 kGone = secret({"app", "gone"});
const core::SecretSelectorV1 kNever = secret({"app", "never"});
const core::SecretSelectorV1 kSplit = secret({"app", "split"});
const core::SecretSelectorV1 kOps = secret({"ops", "key"}, {{"env", "prod"}});

class SessionReadTest : public TeamWorkspaceTest {
 protected:
  SessionReadTest() : erin_(identity(kErin)) {
    workspace_.set_secret(alice(), kGone, "soon gone");
    workspace_.delete_secret(alice(), kGone);
    workspace_.set_secret(root(), kOps, "root only");
    // Two writers at one counter with different values: neither wins.
    workspace_.add_records({sign(alice(), secret_body(kSplit, payload_for({alice().user_id}), 40)),
                            sign(root(), secret_body(kSplit, payload_for({root().user_id}), 40))});
    // Erin joins the readers after every value above was sealed.
    workspace_.add_records({sign(erin_, entry_point_body(root().user_id, erin_, 41)), sign(root(), user_body(erin_, 41)),
                            sign(root(), group_member_body(group_id_of(id_seed(kReadersGroup)), morvik::testing::user_ref(erin_), 41))});
  }

  crypto::Identity erin_;
};

// The primary value, or the error's text.
std::string read(const UnlockedSession& session, const core::SecretSelectorV1& selector) {
  auto plaintext = session.get_secret(kCrypto, selector);
  return plaintext ? "= " + text_of(plaintext->primary) : plaintext.error().message();
}

TEST_F(SessionReadTest, EachReaderReadsWhatItMay) {
  const std::vector<std::pair<const core::SecretSelectorV1*, const char*>> secrets = {
      {&kDb, "app/db"}, {&kApi, "app/api"}, {&kGone, "app/gone"}, {&kNever, "app/never"},
      {&kSplit, "app/split"}, {&kOps, "ops/key"}};
  const std::map<std::string, std::vector<std::string>> expected = {
      // app/db, app/api, app/gone, app/never, app/split, ops/key
      {"root", {"= s3cret", "= key-1", kMissing, kMissing, kConflicted, "= root only"}},
      {"alice", {"= s3cret", "= key-1", kMissing, kMissing, kConflicted, kUnauthorized}},
      {"bob", {"= s3cret", "= key-1", kMissing, kMissing, kConflicted, kUnauthorized}},
      {"carol", {kUnauthorized, kUnauthorized, kMissing, kMissing, kConflicted, kUnauthorized}},
      {"erin", {kNotSealedToReader, kNotSealedToReader, kMissing, kMissing, kConflicted, kUnauthorized}},
  };
  const std::map<std::string, const crypto::Identity*> readers = {
      {"root", &root()}, {"alice", &alice()}, {"bob", &bob()}, {"carol", &carol()}, {"erin", &erin_}};
  for (const auto& [name, reader] : readers) {
    const UnlockedSession session = open(*reader);
    for (std::size_t i = 0; i < secrets.size(); ++i) {
      EXPECT_EQ(read(session, *secrets[i].first), expected.at(name)[i]) << name << " reading " << secrets[i].second;
    }
  }
}

TEST_F(SessionReadTest, AReadReturnsTheFieldsAndTheSelector) {
  const UnlockedSession session = open(bob());
  const auto plaintext = session.get_secret(kCrypto, kDb);
  ASSERT_TRUE(plaintext) << plaintext.error().message();
  EXPECT_EQ(plaintext->selector, kDb);
  EXPECT_EQ(text_of(plaintext->primary), "s3cret");
  ASSERT_EQ(plaintext->fields.size(), 1u);
  EXPECT_EQ(plaintext->fields[0].name, "user");
  EXPECT_EQ(text_of(plaintext->fields[0].value), "admin");
}

// A read works from the session's state: what another process writes
// meanwhile is seen only after this session's own next write or load.
TEST_F(SessionReadTest, AReadTouchesNoFile) {
  const UnlockedSession session = open(bob());
  workspace_.set_secret(alice(), kApi, "key-2");
  EXPECT_EQ(read(session, kApi), "= key-1");
  EXPECT_EQ(read(open(bob()), kApi), "= key-2");
}

}  // namespace
}  // namespace morvik::ops
