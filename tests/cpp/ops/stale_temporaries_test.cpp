// Writers killed between creating a temporary file and moving it over its
// target leave the temporary behind; the next write, under the locks that
// exclude every other writer, removes those of the files it writes, and
// nothing else.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ops/session.hpp"
#include "store/stale_temporaries.hpp"
#include "store/transaction.hpp"
#include "support/ops/team_workspace.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using namespace morvik::testing;
using store::testing::list_dir;
using store::testing::write_file;

const std::string kDigits = "0123456789abcdef0123456789abcdef";

class StaleTemporariesTest : public TeamWorkspaceTest {
 protected:
  store::Path state_dir() const { return store::root_state_dir(paths(), trusted_root()); }

  std::vector<std::string> temporaries() const {
    std::vector<std::string> found;
    for (const store::Path& dir : {paths().morvik_dir, state_dir()}) {
      for (const std::string& name : list_dir(dir)) {
        if (name.find(".tmp.") != std::string::npos) found.push_back(name);
      }
    }
    std::ranges::sort(found);
    return found;
  }
};

TEST_F(StaleTemporariesTest, AKilledCommitLeavesNoneAfterTheNextWrite) {
  const store::Path journal = store::transaction::transaction_path(paths(), trusted_root());
  int trial = 0;
  for (const store::Path& target : {journal, store::ratchet_path(paths(), trusted_root()), paths().vault_path}) {
    SCOPED_TRACE(target.display());
    crash_commit(paths(), alice(), kApi, "killed", target);
    const std::string left = "." + std::string(*target.final_name()) + ".tmp.";
    ASSERT_EQ(temporaries().size(), 1u);
    EXPECT_TRUE(temporaries().front().starts_with(left)) << temporaries().front();

    const std::string value = "after " + std::to_string(++trial);
    ASSERT_TRUE(open(alice()).set_secret(kCrypto, kApi, bytes_of(value)));
    EXPECT_EQ(temporaries(), std::vector<std::string>{});
    EXPECT_EQ(text_of(open(bob()).get_secret(kCrypto, kApi).value().primary), value);
  }
}

// Only regular files named exactly as this system names the temporaries of
// the file written: every lookalike stays, whatever it is.
TEST_F(StaleTemporariesTest, LookalikesStay) {
  const store::Path dir = paths().morvik_dir;
  const std::string stale = ".vault.cord.tmp." + kDigits;
  const std::vector<std::string> lookalikes = {
      ".vault.cord.tmp." + kDigits.substr(1),
      ".vault.cord.tmp." + kDigits + "0",
      ".vault.cord.tmp.0123456789ABCDEF0123456789abcdef",
      ".vault.cord.tmp." + kDigits + ".bak",
      "vault.cord.tmp." + kDigits,
      ".vault.cord.tmp-" + kDigits,
      ".ault.cord.tmp." + kDigits,
      ".other.cord.tmp." + kDigits,
      ".vault.cord.tmp.",
      "notes.txt",
  };
  write_file(dir / stale, "stale");
  for (const std::string& name : lookalikes) write_file(dir / name, "keep");
  const std::string directory = ".vault.cord.tmp." + std::string(32, 'd');
  const std::string link = ".vault.cord.tmp." + std::string(32, 'e');
  store::testing::make_dir(dir / directory);
  store::testing::make_symlink("notes.txt", dir / link);

  store::remove_stale_temporaries(paths().vault_path);
  std::vector<std::string> expected = lookalikes;
  expected.insert(expected.end(), {directory, link, "vault.cord", "vault.cord.lock"});
  std::ranges::sort(expected);
  std::vector<std::string> left = list_dir(dir);
  std::ranges::sort(left);
  EXPECT_EQ(left, expected);
}

}  // namespace
}  // namespace morvik::ops
