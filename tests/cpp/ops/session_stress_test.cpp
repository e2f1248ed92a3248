// Many processes on one workspace and one state directory: eight writers,
// each with a secret of its own and all sharing one more, and a reader that
// opens the vault over and over while they write. No write that succeeded
// is lost, the last commit decides the shared secret, counters only grow,
// every open either succeeds or waits out a lock, and nothing of a commit
// is left behind.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/derivations.hpp"
#include "core/vault_file/vault_file.hpp"
#include "ops/session.hpp"
#include "store/transaction.hpp"
#include "support/core/selectors.hpp"
#include "support/ops/secrets_vault.hpp"
#include "support/ops/team_workspace.hpp"
#include "support/ops/workspace_factory.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using namespace morvik::testing;

constexpr int kWriters = 8;
// Every write validates and rewrites the whole vault, so the run grows with
// the square of the writes; under the sanitizers a fifth of them still puts
// every process through many rounds of contention.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kWritesPerSecret = 20;
#else
constexpr int kWritesPerSecret = 100;
#endif
constexpr std::uint8_t kFirstWriterSeed = 10;
constexpr std::uint8_t kReaderSeed = 30;

const core::SecretSelectorV1 kShared = secret({"w", "shared"});
core::SecretSelectorV1 own_secret(int writer) { return secret({"w", std::to_string(writer)}); }

bool is_lock_timeout(const OpsError& error) {
  const auto* store = error.as<OpsError::Store>();
  return store && store->error.as<store::StoreError::WorkspaceLocked>();
}

// The writers write under "w"; the reader reads all of it. Only the root and
// the reader are sealed to, which keeps the records small.
TestVault stress_vault() {
  TestVault vault;
  for (int writer = 0; writer < kWriters; ++writer) {
    const auto& user = vault.add_user(static_cast<std::uint8_t>(kFirstWriterSeed + writer), 1);
    vault.add(vault.root(), grant_body(id_seed(static_cast<std::uint8_t>(100 + writer)), morvik::testing::user_ref(user),
                                       write_permission(prefix({"w"})), 1));
  }
  const auto& reader = vault.add_user(kReaderSeed, 1);
  vault.add(vault.root(), grant_body(id_seed(99), morvik::testing::user_ref(reader), read_permission(prefix({"w"})), 1));
  return vault;
}

// Opens as `user`, waiting out lock timeouts.
std::optional<UnlockedSession> open_session(const store::WorkspacePaths& paths, std::uint8_t seed,
                                            std::string& failure) {
  for (;;) {
    auto loaded = LockedSession::load(paths, kCrypto);
    if (!loaded) {
      if (is_lock_timeout(loaded.error())) continue;
      failure = loaded.error().message();
      return std::nullopt;
    }
    auto unlocked = UnlockedSession::with_identity(std::move(*loaded), kCrypto, identity(seed));
    if (!unlocked) {
      failure = unlocked.error().message();
      return std::nullopt;
    }
    return std::move(*unlocked);
  }
}

// One line per successful write: "own" or "shared", the record's counter,
// the value written. Returns the exit code.
int run_writer(const store::WorkspacePaths& paths, int writer, const store::Path& log_path) {
  std::ofstream log(log_path.bytes());
  std::string failure;
  auto session = open_session(paths, static_cast<std::uint8_t>(kFirstWriterSeed + writer), failure);
  if (!session) {
    log << "failed " << failure << "\n";
    return 1;
  }
  for (int n = 0; n < kWritesPerSecret; ++n) {
    for (const bool shared : {false, true}) {
      const core::SecretSelectorV1 selector = shared ? kShared : own_secret(writer);
      const std::string value = "writer " + std::to_string(writer) + (shared ? " shared " : " own ") + std::to_string(n);
      for (;;) {
        auto written = session->set_secret(kCrypto, selector, bytes_of(value));
        if (written) {
          const auto* record = session->state().latest_authorized_secret_record(written->output.secret_id);
          log << (shared ? "shared " : "own ") << record->counter() << " " << value << "\n";
          break;
        }
        if (is_lock_timeout(written.error())) continue;
        log << "failed " << written.error().message() << "\n";
        return 1;
      }
    }
  }
  return 0;
}

// Opens the vault again and again until `stop` exists; writes how many
// opens succeeded and how many waited out a lock.
int run_reader(const store::WorkspacePaths& paths, const store::Path& stop, const store::Path& log_path) {
  std::ofstream log(log_path.bytes());
  int opened = 0;
  int timed_out = 0;
  std::uint64_t highest = 0;
  while (!store::testing::exists(stop)) {
    auto loaded = LockedSession::load(paths, kCrypto);
    if (!loaded) {
      if (!is_lock_timeout(loaded.error())) {
        log << "failed " << loaded.error().message() << "\n";
        return 1;
      }
      ++timed_out;
      continue;
    }
    auto unlocked = UnlockedSession::with_identity(std::move(*loaded), kCrypto, identity(kReaderSeed));
    if (!unlocked) {
      log << "failed " << unlocked.error().message() << "\n";
      return 1;
    }
    const std::uint64_t counter = unlocked->state().max_counter.value_or(0);
    if (counter < highest) {
      log << "failed the vault went back from " << highest << " to " << counter << "\n";
      return 1;
    }
    highest = counter;
    ++opened;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  log << "opened " << opened << " timed-out " << timed_out << "\n";
  return 0;
}

pid_t spawn(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());  // none of the parent's destructors
  return child;
}

struct LoggedWrite {
  bool shared = false;
  std::uint64_t counter = 0;
  std::string value;
};

std::vector<LoggedWrite> read_log(const store::Path& path) {
  std::vector<LoggedWrite> writes;
  std::ifstream in(path.bytes());
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    LoggedWrite write;
    fields >> kind >> write.counter;
    EXPECT_TRUE(kind == "own" || kind == "shared") << line;
    write.shared = kind == "shared";
    std::getline(fields >> std::ws, write.value);
    writes.push_back(std::move(write));
  }
  return writes;
}

bool is_temporary(const std::string& name) { return name.find(".tmp.") != std::string::npos; }

TEST(SessionStressTest, WritersAndAReaderShareOneWorkspace) {
  const TestVault vault = stress_vault();
  const TestWorkspace workspace(vault);
  const store::WorkspacePaths& paths = workspace.paths();
  const store::Path stop = workspace.dir() / "stop";

  std::vector<pid_t> writers;
  for (int writer = 0; writer < kWriters; ++writer) {
    writers.push_back(spawn([&, writer] {
      return run_writer(paths, writer, workspace.dir() / ("writer-" + std::to_string(writer)));
    }));
  }
  const pid_t reader = spawn([&] { return run_reader(paths, stop, workspace.dir() / "reader"); });
  for (const pid_t child : writers) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  store::testing::write_file(stop, std::string());
  int status = 0;
  ASSERT_EQ(::waitpid(reader, &status, 0), reader);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::ifstream reader_log((workspace.dir() / "reader").bytes());
  std::string reader_summary;
  std::getline(reader_log, reader_summary);
  EXPECT_TRUE(reader_summary.starts_with("opened ")) << reader_summary;
  EXPECT_FALSE(reader_summary.starts_with("opened 0 ")) << reader_summary;

  // Every counter handed out once, in the order of the commits.
  std::set<std::uint64_t> counters;
  LoggedWrite last_shared;
  std::vector<std::vector<LoggedWrite>> logs;
  for (int writer = 0; writer < kWriters; ++writer) {
    logs.push_back(read_log(workspace.dir() / ("writer-" + std::to_string(writer))));
    const auto& log = logs.back();
    ASSERT_EQ(log.size(), 2u * kWritesPerSecret) << "writer " << writer;
    for (std::size_t i = 0; i < log.size(); ++i) {
      EXPECT_TRUE(counters.insert(log[i].counter).second) << "counter " << log[i].counter << " given twice";
      if (i > 0) {
        EXPECT_GT(log[i].counter, log[i - 1].counter);
      }
      if (log[i].shared && log[i].counter > last_shared.counter) last_shared = log[i];
    }
  }

  const UnlockedSession session = workspace.open_as(identity(kReaderSeed));
  std::map<core::SecretId, std::set<std::uint64_t>> stored;
  for (const auto& held : session.session().records.records()) {
    if (const auto* secret = std::get_if<core::SecretRecordV1>(held.record->body.known())) {
      stored[secret->secret_id].insert(secret->counter);
    }
  }
  for (int writer = 0; writer < kWriters; ++writer) {
    const auto id = core::derive_secret_id(kCrypto, own_secret(writer)).value();
    std::set<std::uint64_t> logged;
    for (const auto& write : logs[writer]) {
      if (!write.shared) logged.insert(write.counter);
    }
    EXPECT_EQ(stored[id], logged) << "writer " << writer;
    EXPECT_EQ(text_of(session.get_secret(kCrypto, own_secret(writer)).value().primary),
              "writer " + std::to_string(writer) + " own " + std::to_string(kWritesPerSecret - 1));
  }
  EXPECT_EQ(stored[core::derive_secret_id(kCrypto, kShared).value()].size(), std::size_t{kWriters} * kWritesPerSecret);
  EXPECT_EQ(text_of(session.get_secret(kCrypto, kShared).value().primary), last_shared.value);

  EXPECT_FALSE(store::testing::exists(store::transaction::transaction_path(paths, workspace.trusted_root())));
  EXPECT_EQ(store::testing::list_dir(paths.morvik_dir), (std::vector<std::string>{"vault.cord", "vault.cord.lock"}));
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(store::root_state_dir(paths, workspace.trusted_root()).bytes())) {
    EXPECT_FALSE(is_temporary(entry.path().filename().string())) << entry.path();
  }
}

}  // namespace
}  // namespace morvik::ops
