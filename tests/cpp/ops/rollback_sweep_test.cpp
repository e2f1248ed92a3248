// A vault written version after version. A machine that saw version k,
// through a load or through its own writes, remembers it in its ratchet:
// every older version put back in place of the vault file is reported as a
// rollback of exactly the record slots that changed since, on the next load
// and through the next write; no reader ever reads an older value; and
// version k itself still opens clean.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/vault_file/vault_file.hpp"
#include "ops/trust.hpp"
#include "support/ops/memory_tmpdir.hpp"
#include "support/ops/reader_views.hpp"
#include "support/ops/record_names.hpp"
#include "support/ops/team_workspace.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using namespace morvik::testing;
using store::testing::read_file;
using store::testing::write_file;

const core::SecretSelectorV1 kNew = secret({"app", "new"});
const core::SecretSelectorV1 kOtherSecret = secret({"app", "other"});

struct Version {
  std::string what;
  cord::Bytes vault;
};

// Each slot named by the newest record `seen` holds in it.
std::string keys_text(const std::set<core::RecordKey>& keys, const LockedSession& seen) {
  std::string text;
  for (const core::RecordKey& key : keys) {
    const core::validate::VerifiedRecord* newest = nullptr;
    for (const core::validate::VerifiedRecord& record : seen.report.state.records) {
      if (record.key == key && (newest == nullptr || counter_of(*record.record) > counter_of(*newest->record))) {
        newest = &record;
      }
    }
    text += "\n  " + (newest ? record_name(*newest->record) : core::debug_string(key));
  }
  return text.empty() ? " none" : text;
}

// The slots the report holds a rollback of.
std::set<core::RecordKey> rolled_back(const core::validate::ValidationReport& report) {
  std::set<core::RecordKey> keys;
  for (const auto& [key, conflict] : report.state.conflicts) {
    if (conflict.remembered) keys.insert(key);
  }
  return keys;
}

// The memory file system first: the team workspace makes its directory.
class RollbackSweepTest : private MemoryTmpdir, public TeamWorkspaceTest {
 protected:
  RollbackSweepTest()
      : readers_{{"root", &root()}, {"alice", &alice()}, {"bob", &bob()}, {"carol", &carol()}},
        secrets_{{"app/db", kDb}, {"app/api", kApi}, {"app/new", kNew}} {
    first_ratchet_ = read_file(workspace_.ratchet_path());
    keep("the team's two secrets");
    workspace_.set_secret(alice(), kApi, "key-2");
    keep("alice overwrites app/api");
    workspace_.set_secret(alice(), kNew, "fresh");
    keep("alice adds app/new");
    workspace_.delete_secret(alice(), kDb);
    keep("alice deletes app/db");
    // Another client of the root's: only this machine's next load sees it.
    const core::GroupId readers = group_id_of(id_seed(kReadersGroup));
    workspace_.add_records(
        {sign(root(), group_member_deleted_body(readers, morvik::testing::user_ref(bob()), core::validate::next_counter(
                                                                             load().report.state)))});
    keep("the root takes bob out of the readers");
    workspace_.set_secret(alice(), kApi, "key-3");
    keep("alice overwrites app/api again, now for alice and the root only");
    last_ratchet_ = read_file(workspace_.ratchet_path());
  }

  void keep(std::string what) { versions_.push_back({std::move(what), read_file(paths().vault_path)}); }
  void put_back(const Version& version) const { write_file(paths().vault_path, version.vault); }
  std::string trace(std::string_view role, std::size_t index) const {
    return std::string(role) + " version " + std::to_string(index) + ": " + versions_[index].what;
  }

  // The slots of the records that `seen` validated and `older` lacks.
  static std::set<core::RecordKey> changed_since(const cord::Bytes& older, const LockedSession& seen) {
    const core::VaultStore older_records = core::validate::decode_vault(older).value();
    std::set<core::RecordKey> keys;
    for (const core::validate::VerifiedRecord& record : seen.report.state.records) {
      if (!core::vault_records(older_records).contains(*record.record)) keys.insert(record.key);
    }
    return keys;
  }

  // The machine has just loaded `seen`, whose readers see `newest`: version
  // `older` put back is reported as a rollback of what changed since, and
  // reads nothing older.
  void expect_reported(const LockedSession& session, const LockedSession& seen, std::size_t older,
                       const VaultView& newest) const {
    const core::validate::ValidationReport& report = session.report;
    EXPECT_TRUE(report.issues.empty());
    const std::set<core::RecordKey> changed = changed_since(versions_[older].vault, seen);
    ASSERT_FALSE(changed.empty());
    const std::set<core::RecordKey> reported = rolled_back(report);
    EXPECT_EQ(keys_text(reported, seen), keys_text(changed, seen))
        << "left: reported as rolled back, right: changed since";
    for (const std::string& value : values_not_in(view_as_readers(session, readers_, secrets_), newest)) {
      ADD_FAILURE() << value;
    }
  }

  // Loads version `seen` on this machine, then every older version in turn,
  // then `seen` again.
  void sweep_below(std::size_t seen) const {
    SCOPED_TRACE(trace("saw", seen));
    put_back(versions_[seen]);
    const LockedSession newest_session = load();
    ASSERT_TRUE(newest_session.report.issues.empty());
    ASSERT_TRUE(newest_session.report.state.conflicts.empty());
    const VaultView newest = view_as_readers(newest_session, readers_, secrets_);
    for (std::size_t older = seen; older-- > 0;) {
      SCOPED_TRACE(trace("put back", older));
      put_back(versions_[older]);
      auto session = LockedSession::load(paths(), kCrypto);
      ASSERT_TRUE(session) << session.error().message();
      expect_reported(*session, newest_session, older, newest);
    }
    put_back(versions_[seen]);
    const LockedSession again = load();
    EXPECT_TRUE(again.report.issues.empty());
    EXPECT_TRUE(again.report.state.conflicts.empty());
    EXPECT_EQ(view_as_readers(again, readers_, secrets_), newest);
  }

  std::vector<NamedReader> readers_;
  std::vector<NamedSecret> secrets_;
  std::vector<Version> versions_;
  cord::Bytes first_ratchet_;
  cord::Bytes last_ratchet_;
};

// The fixture: versions loaded in the order they were written are clean,
// and the last one reads as written.
TEST_F(RollbackSweepTest, EachVersionOpensCleanInTurn) {
  write_file(workspace_.ratchet_path(), first_ratchet_);
  for (std::size_t k = 0; k < versions_.size(); ++k) {
    put_back(versions_[k]);
    const LockedSession session = load();
    EXPECT_TRUE(session.report.issues.empty()) << trace("at", k);
    EXPECT_TRUE(session.report.state.conflicts.empty()) << trace("at", k);
  }
  const VaultView last = view_as_readers(load(), readers_, secrets_);
  EXPECT_EQ(last.at("alice").reads.at("app/api"), (SecretRead{true, "key-3"}));
  EXPECT_EQ(last.at("alice").reads.at("app/new"), (SecretRead{true, "fresh"}));
  EXPECT_EQ(last.at("alice").reads.at("app/db"), (SecretRead{false, "secret is missing"}));
  EXPECT_FALSE(last.at("bob").reads.at("app/api").read);
}

// A machine that only ever loaded: its ratchet knows the first version
// until it loads version k.
TEST_F(RollbackSweepTest, AfterALoadOfAnyVersionEveryOlderOneIsReported) {
  for (std::size_t seen = 1; seen < versions_.size(); ++seen) {
    write_file(workspace_.ratchet_path(), first_ratchet_);
    sweep_below(seen);
  }
}

// The machine that wrote the versions: its ratchet is as its commits left it.
TEST_F(RollbackSweepTest, AfterItsOwnWritesEveryOlderVersionIsReported) {
  sweep_below(versions_.size() - 1);
}

// A session opened on the last version writes after an older one was put
// back: its reload meets the rollback, which the write does not hide, and
// the next load still reports it.
TEST_F(RollbackSweepTest, AWriteOverAnOlderVersionKeepsReportingIt) {
  const std::size_t last = versions_.size() - 1;
  for (std::size_t older = last; older-- > 0;) {
    SCOPED_TRACE(trace("put back", older));
    put_back(versions_[last]);
    write_file(workspace_.ratchet_path(), last_ratchet_);
    const LockedSession newest_session = load();
    const VaultView newest = view_as_readers(newest_session, readers_, secrets_);
    UnlockedSession writer = open(alice());

    put_back(versions_[older]);
    // A rollback is no validation issue: the write goes through, with a
    // counter above every remembered one, and its state keeps the report.
    auto written = writer.set_secret(kCrypto, kOtherSecret, bytes_of("written over the past"));
    ASSERT_TRUE(written) << written.error().message();
    expect_reported(writer.session(), newest_session, older, newest);
    auto next = LockedSession::load(paths(), kCrypto);
    ASSERT_TRUE(next) << next.error().message();
    expect_reported(*next, newest_session, older, newest);
  }
}

}  // namespace
}  // namespace morvik::ops
