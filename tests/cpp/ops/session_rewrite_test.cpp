// A secret read, changed and written back in one commit: the change is made
// to the secret as the write finds it under the locks, so that what another
// session stored since this one read it is kept.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ops/session.hpp"
#include "support/ops/team_workspace.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using namespace morvik::testing;

using Value = std::pair<std::string, std::vector<std::pair<std::string, std::string>>>;

class SessionRewriteTest : public TeamWorkspaceTest {
 protected:
  Value stored(const core::SecretSelectorV1& selector) const {
    const SecretPlaintext plaintext = open(bob()).get_secret(kCrypto, selector).value();
    Value value{text_of(plaintext.primary), {}};
    for (const auto& field : plaintext.fields) value.second.emplace_back(field.name, text_of(field.value));
    return value;
  }
};

TEST_F(SessionRewriteTest, TheChangeKeepsWhatAnotherSessionStoredMeanwhile) {
  UnlockedSession stale = open(alice());
  open(alice()).set_secret(kCrypto, kDb, bytes_of("newer")).value();
  auto rewritten = stale.rewrite_secret_value(kCrypto, kDb, [](const SecretPlaintext& p) {
    return std::optional(p.with_field("password", bytes_of("pw")));
  });
  ASSERT_TRUE(rewritten) << rewritten.error().message();
  ASSERT_TRUE(*rewritten);
  EXPECT_EQ(stored(kDb), (Value{"newer", {{"password", "pw"}}}));
  // The session holds what it wrote.
  EXPECT_EQ(text_of(stale.get_secret(kCrypto, kDb).value().primary), "newer");
}

TEST_F(SessionRewriteTest, ADeclinedChangeWritesNothing) {
  UnlockedSession session = open(alice());
  const Value before = stored(kDb);
  int calls = 0;
  auto rewritten = session.rewrite_secret_value(kCrypto, kDb, [&](const SecretPlaintext&) {
    ++calls;
    return std::optional<core::SecretValueV1>();
  });
  ASSERT_TRUE(rewritten) << rewritten.error().message();
  EXPECT_FALSE(*rewritten);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(stored(kDb), before);
}

// Read first, then written: a secret the writer cannot read is refused as a
// read is, one it reads but may not write as a write is.
TEST_F(SessionRewriteTest, ARefusedReadOrWriteWritesNothing) {
  const auto keep = [](const SecretPlaintext& p) { return std::optional(p.with_field("x", bytes_of("y"))); };
  auto missing = open(alice()).rewrite_secret_value(kCrypto, secret({"app", "none"}), keep);
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().as<OpsError::SecretMissing>(), nullptr) << missing.error().message();
  auto reader = open(bob()).rewrite_secret_value(kCrypto, kDb, keep);
  ASSERT_FALSE(reader);
  EXPECT_NE(reader.error().as<OpsError::SecretNotWritable>(), nullptr) << reader.error().message();
  EXPECT_EQ(stored(kDb), (Value{"s3cret", {{"user", "admin"}}}));
}

}  // namespace
}  // namespace morvik::ops
