// The write road: values, deletions and field changes committed with the
// vault and ratchet files; the counter rule; bringing the session up to date
// with what other processes wrote; and every refusal, which leaves both files
// as they were.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "core/derivations.hpp"
#include "core/vault_file/vault_file.hpp"
#include "ops/join_commit.hpp"
#include "ops/session.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_file.hpp"
#include "store/state_locks.hpp"
#include "store/transaction.hpp"
#include "store/write_fault.hpp"
#include "support/ops/journal_workspace.hpp"
#include "support/ops/team_workspace.hpp"
#include "support/store/lock_holder.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using namespace morvik::testing;
using store::testing::exists;
using store::testing::read_file;
using store::testing::write_file;
namespace tx = store::transaction;

constexpr std::uint64_t kCeiling = std::uint64_t{1} << 62;
const std::string kExhausted =
    "the vault's Lamport counter is exhausted \u2014 a record carries an absurdly high counter, which no "
    "well-behaved client produces";

core::SecretValueV1 value_of(std::string_view primary) { return core::SecretValueV1::from_primary(bytes_of(primary)); }

class SessionWriteTest : public TeamWorkspaceTest {
 protected:
  FileImages files() const {
    return {read_file(paths().vault_path), read_file(workspace_.ratchet_path())};
  }
  core::ratchet::Ratchet ratchet_on_disk() const { return decoded_ratchet(read_file(workspace_.ratchet_path())); }
  core::RecordKey secret_key(const core::SecretSelectorV1& selector) const {
    return core::record_key::Secret{core::derive_secret_id(kCrypto, selector).value()};
  }
  std::uint64_t counter_of_write(const UnlockedSession& session, const core::HashValue& hash) const {
    return counter_of(record_with_hash(session.session().records, hash));
  }
  std::string read(const UnlockedSession& session, const core::SecretSelectorV1& selector) const {
    auto plaintext = session.get_secret(kCrypto, selector);
    return plaintext ? text_of(plaintext->primary) : plaintext.error().message();
  }
  // The session's state matches the files, and nothing of the commit is left.
  void expect_committed(const UnlockedSession& session) const {
    EXPECT_EQ(*session.session().vault_bytes, read_file(paths().vault_path));
    EXPECT_EQ(session.session().ratchet, ratchet_on_disk());
    EXPECT_EQ(session.session().records.store(), core::validate::decode_vault(*session.session().vault_bytes).value());
    // Every record views the file the session holds, none a file let go.
    for (const auto& held : session.session().records.records()) {
      EXPECT_TRUE(session.session().records.read_from_file(held));
    }
    EXPECT_EQ(session.session().records.file(), session.session().vault_bytes);
    EXPECT_FALSE(exists(tx::transaction_path(paths(), trusted_root())));
    EXPECT_EQ(store::testing::list_dir(paths().morvik_dir), (std::vector<std::string>{"vault.cord", "vault.cord.lock"}));
  }
};

TEST_F(SessionWriteTest, AValueIsCommittedWithTheRatchetAndReadBack) {
  UnlockedSession session = open(alice());
  const std::uint64_t highest = *session.state().max_counter;
  const auto written = session.set_secret(kCrypto, kApi, bytes_of("key-2"));
  ASSERT_TRUE(written) << written.error().message();
  EXPECT_EQ(written->output.selector, kApi);
  EXPECT_EQ(written->output.secret_id, core::derive_secret_id(kCrypto, kApi).value());
  EXPECT_EQ(counter_of_write(session, written->record_hash), highest + 1);
  EXPECT_TRUE(session.state().secret_record_is_current(written->record_hash));
  EXPECT_EQ(session.session().ratchet.watermarks.at(secret_key(kApi)), highest + 1);
  expect_committed(session);

  EXPECT_EQ(read(session, kApi), "key-2");
  EXPECT_EQ(read(open(bob()), kApi), "key-2");
}

TEST_F(SessionWriteTest, TheSameValueAgainIsANewRecord) {
  UnlockedSession session = open(alice());
  const auto first = session.set_secret(kCrypto, kApi, bytes_of("same"));
  const auto second = session.set_secret(kCrypto, kApi, bytes_of("same"));
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->record_hash, second->record_hash);
  EXPECT_EQ(counter_of_write(session, second->record_hash), counter_of_write(session, first->record_hash) + 1);
  EXPECT_NE(first->output.payload.nonce, second->output.payload.nonce);
  EXPECT_NE(first->output.payload.ciphertext, second->output.payload.ciphertext);
}

TEST_F(SessionWriteTest, DeletionsAreRecordsToo) {
  UnlockedSession session = open(alice());
  const auto deleted = session.delete_secret(kCrypto, kApi);
  ASSERT_TRUE(deleted) << deleted.error().message();
  EXPECT_EQ(deleted->output.selector, kApi);
  EXPECT_EQ(read(session, kApi), "secret is missing");
  EXPECT_EQ(read(open(bob()), kApi), "secret is missing");
  expect_committed(session);

  const auto again = session.delete_secret(kCrypto, kApi);
  ASSERT_TRUE(again) << again.error().message();
  EXPECT_GT(counter_of_write(session, again->record_hash), counter_of_write(session, deleted->record_hash));
  EXPECT_TRUE(session.delete_secret(kCrypto, secret({"app", "never", "written"})));

  ASSERT_TRUE(session.set_secret(kCrypto, kApi, bytes_of("back")));
  EXPECT_EQ(read(session, kApi), "back");
}

// Field changes read the secret, derive the new value and write it whole.
TEST_F(SessionWriteTest, FieldsAreAddedReplacedAndRemoved) {
  UnlockedSession session = open(alice());
  const auto change = [&](auto derive) {
    auto current = session.get_secret(kCrypto, kDb);
    ASSERT_TRUE(current) << current.error().message();
    ASSERT_TRUE(session.set_secret_value(kCrypto, kDb, derive(*current)));
  };
  const auto fields = [&] {
    std::vector<std::pair<std::string, std::string>> out;
    const SecretPlaintext plaintext = open(bob()).get_secret(kCrypto, kDb).value();
    for (const auto& field : plaintext.fields) {
      out.emplace_back(field.name, text_of(field.value));
    }
    return out;
  };
  using Fields = std::vector<std::pair<std::string, std::string>>;

  change([](const SecretPlaintext& p) { return p.with_field("password", bytes_of("pw")); });
  EXPECT_EQ(fields(), (Fields{{"password", "pw"}, {"user", "admin"}}));
  change([](const SecretPlaintext& p) { return p.with_field("user", bytes_of("root")); });
  EXPECT_EQ(fields(), (Fields{{"password", "pw"}, {"user", "root"}}));
  change([](const SecretPlaintext& p) { return p.without_field("user"); });
  EXPECT_EQ(fields(), (Fields{{"password", "pw"}}));
  change([](const SecretPlaintext& p) { return p.without_field("absent"); });
  EXPECT_EQ(fields(), (Fields{{"password", "pw"}}));
  EXPECT_EQ(read(open(bob()), kDb), "s3cret");
}

// A write's counter is one above every counter the vault admits and every
// counter a rollback conflict remembers; 2^62 is the last one given out.
struct CounterCase {
  const char* name;
  // The highest admitted counter (a vault handle record carries it), or the
  // one remembered for "app/api" above what the vault holds.
  std::uint64_t counter;
  bool remembered;
  bool exhausted;
};

void PrintTo(const CounterCase& c, std::ostream* out) { *out << c.name; }

class CounterTest : public SessionWriteTest, public ::testing::WithParamInterface<CounterCase> {};

TEST_P(CounterTest, StopsAboveTwoToTheSixtyTwo) {
  const CounterCase& c = GetParam();
  if (c.remembered) {
    core::ratchet::Ratchet ratchet = ratchet_on_disk();
    ratchet.watermarks[secret_key(kApi)] = c.counter;
    ASSERT_TRUE(store::write_ratchet_atomic(paths(), ratchet));
  } else {
    workspace_.add_records({sign(root(), vault_handle_body("high", c.counter))});
  }
  UnlockedSession session = open(alice());
  const FileImages before = files();
  const auto written = session.set_secret(kCrypto, kDb, bytes_of("next"));
  if (c.exhausted) {
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message(), kExhausted);
    EXPECT_EQ(files(), before);
  } else {
    ASSERT_TRUE(written) << written.error().message();
    EXPECT_EQ(counter_of_write(session, written->record_hash), c.counter + 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Counters, CounterTest,
                         ::testing::Values(CounterCase{"AdmittedBelowTheCeiling", kCeiling - 1, false, false},
                                           CounterCase{"AdmittedAtTheCeiling", kCeiling, false, true},
                                           CounterCase{"RememberedBelowTheCeiling", kCeiling - 1, true, false},
                                           CounterCase{"RememberedAtTheCeiling", kCeiling, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Another process wrote since this session loaded: the write reloads, takes
// its counter from the newer state and leaves the session holding both.
TEST_F(SessionWriteTest, AWriteBringsTheSessionUpToDateFirst) {
  UnlockedSession session = open(alice());
  UnlockedSession other = open(alice());
  const auto theirs = other.set_secret(kCrypto, kApi, bytes_of("theirs"));
  ASSERT_TRUE(theirs);
  EXPECT_EQ(read(session, kApi), "key-1");

  const auto mine = session.set_secret(kCrypto, kDb, bytes_of("mine"));
  ASSERT_TRUE(mine) << mine.error().message();
  EXPECT_EQ(counter_of_write(session, mine->record_hash), counter_of_write(other, theirs->record_hash) + 1);
  EXPECT_EQ(read(session, kApi), "theirs");
  EXPECT_EQ(read(session, kDb), "mine");
  expect_committed(session);
}

TEST_F(SessionWriteTest, TheReloadReplacesTheStateOnlyWhenAFileChanged) {
  LockedSession session = load();
  const auto reload = [&] {
    auto state_lock = store::acquire_root_state_lock(paths(), trusted_root());
    auto workspace_lock = store::acquire_workspace_lock(paths());
    EXPECT_TRUE(state_lock && workspace_lock);
    return session.reload_if_stale_locked(kCrypto);
  };
  EXPECT_EQ(reload(), false);

  workspace_.set_secret(alice(), kApi, "elsewhere");
  EXPECT_EQ(reload(), true);
  EXPECT_EQ(*session.vault_bytes, read_file(paths().vault_path));
  EXPECT_EQ(session.ratchet, ratchet_on_disk());
  EXPECT_EQ(reload(), false);

  // Only the ratchet moved on: the records stay, the report is new.
  core::ratchet::Ratchet raised = ratchet_on_disk();
  raised.watermarks[secret_key(secret({"app", "elsewhere"}))] = 99;
  ASSERT_TRUE(store::write_ratchet_atomic(paths(), raised));
  EXPECT_EQ(reload(), true);
  EXPECT_EQ(session.ratchet, raised);
  EXPECT_EQ(session.report.state.conflicts.size(), 1u);
}

// Authority is judged before the locks on the state in hand, but only the
// reloaded vault decides: a writer revoked meanwhile builds and signs its
// record, which then does not win, and nothing is written.
TEST_F(SessionWriteTest, AWriterRevokedMeanwhileWritesNothing) {
  UnlockedSession session = open(alice());
  UnlockedSession deleting = open(alice());
  workspace_.add_records({sign(root(), grant_deleted_body(grant_id_of(id_seed(kAliceWriteGrant)),
                                                          write_permission(prefix({"app"})), 6))});
  const FileImages before = files();

  const auto written = session.set_secret(kCrypto, kApi, bytes_of("too late"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "operation did not become effective: secret value did not take effect");
  const auto deleted = deleting.delete_secret(kCrypto, kApi);
  ASSERT_FALSE(deleted);
  EXPECT_EQ(deleted.error().message(), "operation did not become effective: secret deletion did not take effect");
  EXPECT_EQ(files(), before);
  EXPECT_FALSE(exists(tx::transaction_path(paths(), trusted_root())));

  // The session now holds the reloaded state, which refuses before any lock.
  EXPECT_EQ(session.set_secret(kCrypto, kApi, bytes_of("again")).error().message(),
            "secret is not writable by this identity");
}

// A ratchet file another client wrote, whose records the decoder folds
// together, is no obstacle: the commit compares the file with its own bytes.
TEST_F(SessionWriteTest, ARatchetFileThatDoesNotReencodeAlikeIsWrittenOver) {
  auto file = store::to_ratchet_store(ratchet_on_disk());
  // A second, lower watermark of a key that already has one.
  std::get<store::ratchet_store::V1>(file).value.insert(
      cord::Evolving<core::RatchetRecordV1>(core::UserRatchetRecordV1{alice().user_id, 0}));
  const cord::Bytes bytes = store::encode_with_magic(store::kRatchetMagic, file).value();
  ASSERT_NE(bytes, store::encode_ratchet(decoded_ratchet(bytes)).value());
  write_file(workspace_.ratchet_path(), bytes);

  UnlockedSession session = open(alice());
  const auto written = session.set_secret(kCrypto, kApi, bytes_of("key-2"));
  ASSERT_TRUE(written) << written.error().message();
  EXPECT_TRUE(session.set_secret(kCrypto, kApi, bytes_of("key-3")));
  expect_committed(session);
  EXPECT_EQ(read(open(bob()), kApi), "key-3");
}

// A session's next commit takes the file hashes of its last commit's
// after-images for its before-images only while the files still hold those
// bytes. The second commit is stopped once its journal is written: the
// journal must name the files as they stand, and the next load completes it.
struct BetweenWrites {
  const char* name;
  std::function<void(class HashReuseTest&)> change;
};

void PrintTo(const BetweenWrites& between, std::ostream* out) { *out << between.name; }

class HashReuseTest : public SessionWriteTest, public ::testing::WithParamInterface<BetweenWrites> {
 public:
  const TestWorkspace& workspace() const { return workspace_; }
  const crypto::Identity& writer() const { return alice(); }
  core::ratchet::Ratchet ratchet() const { return ratchet_on_disk(); }
};

TEST_P(HashReuseTest, TheJournalNamesTheFilesAsTheyStand) {
  UnlockedSession session = open(alice());
  ASSERT_TRUE(session.set_secret(kCrypto, kApi, bytes_of("first")));
  GetParam().change(*this);
  const FileImages before = files();
  {
    const store::Path ratchet = workspace_.ratchet_path();
    store::ScopedWriteFault stop([&](store::WriteStep step, const store::Path& path) {
      return step == store::WriteStep::Replace && path == ratchet ? EIO : 0;
    });
    ASSERT_FALSE(session.set_secret(kCrypto, kDb, bytes_of("second")));
  }
  const auto journal = tx::read_transaction(paths(), trusted_root());
  ASSERT_TRUE(journal && *journal);
  EXPECT_EQ((*journal)->vault_before,
            tx::FilePreconditionV1(tx::file_precondition::Hash{transaction_file_hash(before.vault)}));
  EXPECT_EQ((*journal)->ratchet_before,
            tx::FilePreconditionV1(tx::file_precondition::Hash{transaction_file_hash(before.ratchet)}));
  EXPECT_EQ(files(), before);

  const UnlockedSession next = open(alice());
  EXPECT_EQ(read(next, kDb), "second");
  EXPECT_FALSE(exists(tx::transaction_path(paths(), trusted_root())));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, HashReuseTest,
    ::testing::Values(
        BetweenWrites{"Nothing", [](HashReuseTest&) {}},
        BetweenWrites{"BothWrittenElsewhere",
                      [](HashReuseTest& t) { t.workspace().set_secret(t.writer(), kApi, "elsewhere"); }},
        BetweenWrites{"VaultRewrittenWithItsOwnBytes",
                      [](HashReuseTest& t) {
                        const store::Path& vault = t.workspace().paths().vault_path;
                        const cord::Bytes bytes = read_file(vault);
                        std::filesystem::remove(vault.bytes());
                        write_file(vault, bytes);
                      }},
        // The same ratchet in other bytes: it decodes as the session's
        // ratchet, so nothing is reloaded, yet its hash is another.
        BetweenWrites{"RatchetInOtherBytes",
                      [](HashReuseTest& t) {
                        auto file = store::to_ratchet_store(t.ratchet());
                        std::get<store::ratchet_store::V1>(file).value.insert(
                            cord::Evolving<core::RatchetRecordV1>(core::UserRatchetRecordV1{t.writer().user_id, 0}));
                        write_file(t.workspace().ratchet_path(),
                                   store::encode_with_magic(store::kRatchetMagic, file).value());
                      }}),
    [](const auto& info) { return std::string(info.param.name); });

// The refusals of the write road, each with its text; none changes a file,
// and each lets go of the locks.
struct WriteFailure {
  const char* name;
  // Prepares the workspace after the writer's session was opened; returns
  // the text the write must fail with.
  std::function<std::string(class WriteFailureTest&)> arrange;
  std::function<OpsResult<BuiltRecord<SetSecretOutput>>(UnlockedSession&)> write = [](UnlockedSession& session) {
    return session.set_secret(kCrypto, kApi, bytes_of("refused"));
  };
};

void PrintTo(const WriteFailure& failure, std::ostream* out) { *out << failure.name; }

class WriteFailureTest : public SessionWriteTest, public ::testing::WithParamInterface<WriteFailure> {
 public:
  const TestWorkspace& workspace() const { return workspace_; }
  const crypto::Identity& admin() const { return root(); }
  const crypto::Identity& writer() const { return alice(); }
  using TeamWorkspaceTest::add_a_strangers_record;
  using TeamWorkspaceTest::interrupt_a_commit_of_a_copy;
};

TEST_P(WriteFailureTest, RefusesWithItsTextAndChangesNothing) {
  UnlockedSession session = open(alice());
  const std::string expected = GetParam().arrange(*this);
  const FileImages before{exists(paths().vault_path) ? read_file(paths().vault_path) : cord::Bytes{},
                          exists(workspace_.ratchet_path()) ? read_file(workspace_.ratchet_path()) : cord::Bytes{}};
  const auto written = GetParam().write(session);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), expected);
  const FileImages after{exists(paths().vault_path) ? read_file(paths().vault_path) : cord::Bytes{},
                         exists(workspace_.ratchet_path()) ? read_file(workspace_.ratchet_path()) : cord::Bytes{}};
  EXPECT_EQ(after, before);
  // The locks were let go.
  EXPECT_TRUE(store::acquire_root_state_lock(paths(), trusted_root(), store::LockRetry{std::chrono::milliseconds(1),
                                                                                        std::chrono::milliseconds(0)}));
  EXPECT_TRUE(store::acquire_workspace_lock(paths(), store::LockRetry{std::chrono::milliseconds(1),
                                                                      std::chrono::milliseconds(0)}));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, WriteFailureTest,
    ::testing::Values(
        WriteFailure{"NoWriteGrant", [](WriteFailureTest&) { return std::string("secret is not writable by this identity"); },
                     [](UnlockedSession& session) { return session.set_secret(kCrypto, secret({"ops", "x"}), {}); }},
        WriteFailure{"WriterNoLongerAUser",
                     [](WriteFailureTest& t) {
                       t.workspace().add_records({sign(t.admin(), user_deleted_body(t.writer().user_id, 6))});
                       return "writer " + user_debug(t.writer()) + " is missing an active user record";
                     },
                     // The first attempt reloads and loses; the second is judged on the reloaded state.
                     [](UnlockedSession& session) {
                       (void)session.set_secret(kCrypto, kApi, bytes_of("lost"));
                       return session.set_secret(kCrypto, kApi, bytes_of("refused"));
                     }},
        WriteFailure{"IdentityWithAnotherUsersId",
                     [](WriteFailureTest&) {
                       return std::string("hazmat error: signer identity does not match signing public key");
                     },
                     [](UnlockedSession& session) {
                       LockedSession locked = session.session();
                       crypto::Identity forged = identity(kTeamAlice);
                       forged.user_id = identity(kTeamRoot).user_id;
                       return locked.set_secret_value(kCrypto, forged, kApi, value_of("forged"));
                     }},
        WriteFailure{"PendingJournalOfACopy", [](WriteFailureTest& t) { return t.interrupt_a_commit_of_a_copy(); }},
        WriteFailure{"JoinCommitJournal",
                     [](WriteFailureTest& t) {
                       write_file(join_commit_path(t.workspace().paths(), t.workspace().trusted_root()),
                                  std::string("morvik-join-commit"));
                       return std::string("both legacy and current recovery journals exist for this vault");
                     }},
        WriteFailure{"RatchetGone",
                     [](WriteFailureTest& t) {
                       t.workspace().remove_ratchet();
                       return "workspace is missing ratchet state at " + t.workspace().ratchet_path().display();
                     }},
        WriteFailure{"VaultNoLongerDecodes",
                     [](WriteFailureTest& t) {
                       write_file(t.workspace().paths().vault_path, std::string("morvik-vault"));
                       return "store error: vault file " + t.workspace().paths().vault_path.display() +
                              " is invalid: " + core::validate::decode_vault(bytes_of("morvik-vault")).error().message();
                     }},
        WriteFailure{"VaultOfAnotherRoot",
                     [](WriteFailureTest& t) {
                       TestVault other(9);
                       write_file(t.workspace().paths().vault_path, vault_file(other.store()));
                       return "store error: trust root mismatch: file has " + core::debug_string(other.trusted_root()) +
                              ", requested " + core::debug_string(t.workspace().trusted_root());
                     }},
        WriteFailure{"VaultWithIssues",
                     [](WriteFailureTest& t) {
                       return t.add_a_strangers_record();
                     }}),
    [](const auto& info) { return std::string(info.param.name); });

// Loading succeeds while another process holds the state lock shared past
// the retry period (its raises then stay in memory); a write cannot wait
// that long and changes nothing.
TEST_F(SessionWriteTest, AStateLockHeldElsewhere) {
  workspace_.add_records({sign(root(), user_handle_body("carol", carol().user_id, 6))});
  const FileImages before = files();
  store::testing::LockHolder reader(root_state_holder(paths(), trusted_root(), false));
  ASSERT_TRUE(reader.holding());

  LockedSession session = load();
  const core::RecordKey handle = core::record_key::UserHandle{core::derive_user_handle_id(kCrypto, "carol").value()};
  EXPECT_EQ(session.ratchet.watermarks.at(handle), 6u);
  EXPECT_EQ(files(), before);

  auto unlocked = UnlockedSession::with_identity(std::move(session), kCrypto, identity(kTeamAlice));
  ASSERT_TRUE(unlocked) << unlocked.error().message();
  const auto written = unlocked->set_secret(kCrypto, kApi, bytes_of("blocked"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "store error: workspace lock is already held at " +
                                           store::root_state_lock_path(paths(), trusted_root()).display());
  EXPECT_EQ(files(), before);
}

}  // namespace
}  // namespace morvik::ops
