#include "support/ops/journal_workspace.hpp"

#include <stdexcept>

#include "core/domain_hash.hpp"
#include "core/validate/pipeline.hpp"
#include "core/vault_file/vault_file.hpp"
#include "ops/transaction.hpp"
#include "store/atomic_write.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_locks.hpp"
#include "support/ops/fixture_result.hpp"

namespace morvik::ops::testing {

namespace {

using morvik::testing::kCrypto;
namespace tx = store::transaction;

std::optional<cord::Bytes> file_if_present(const store::Path& path) {
  if (!store::testing::exists(path)) return std::nullopt;
  return store::testing::read_file(path);
}

// A root, one user, and versions 2 to `last` of one secret the root wrote.
void fill(morvik::testing::TestVault& vault, std::uint64_t last) {
  const auto& user = vault.add_user(2, 1);
  for (std::uint64_t counter = 2; counter <= last; ++counter) {
    vault.add(vault.root(), morvik::testing::secret_body(morvik::testing::secret({"app", "db"}),
                                                         morvik::testing::payload_for({user.user_id}), counter));
  }
}

}  // namespace

cord::Bytes vault_file(const core::VaultStore& vault) { return expect_ok(core::validate::encode_vault(vault)); }

cord::Bytes ratchet_file(const core::ratchet::Ratchet& ratchet) { return expect_ok(store::encode_ratchet(ratchet)); }

core::ratchet::Ratchet decoded_ratchet(cord::ByteView file) {
  return expect_ok(store::decode_ratchet(store::Path("ratchet.cord"), file));
}

core::ratchet::Ratchet ratchet_after_load(const core::VaultStore& vault, core::ratchet::Ratchet base) {
  auto report = expect_ok(core::validate::validate_vault(vault, base, kCrypto));
  if (!report.issues.empty()) throw std::logic_error("test fixture: the vault does not validate cleanly");
  base.apply_update(report.ratchet_update);
  return base;
}

core::HashValue transaction_file_hash(cord::ByteView bytes) {
  return core::domain_hash(core::kTransactionFileLabel, bytes);
}

core::HashValue join_commit_hash(cord::ByteView bytes) { return core::domain_hash(core::kJoinCommitLabel, bytes); }

cord::Bytes join_commit_file(const JoinCommitJournalV1& journal) {
  cord::Bytes bytes(kJoinCommitMagic.begin(), kJoinCommitMagic.end());
  const cord::Bytes encoded = expect_ok(cord::serialize(JoinCommitJournal{join_commit_journal::V1{journal}}));
  bytes.insert(bytes.end(), encoded.begin(), encoded.end());
  return bytes;
}

ReplacementLog::ReplacementLog()
    : watch_([this](store::WriteStep step, const store::Path& path) {
        if (step == store::WriteStep::Replace) targets_.push_back(path);
        return 0;
      }) {}

JournalWorkspaceTest::JournalWorkspaceTest() : root_(vault_.trusted_root()) {
  fill(vault_, 2);
  const core::ratchet::Ratchet ratchet_before = ratchet_after_load(vault_.store(), core::ratchet::Ratchet(root_));
  before_ = {vault_file(vault_.store()), ratchet_file(ratchet_before)};

  morvik::testing::TestVault next;
  fill(next, 3);
  after_ = {vault_file(next.store()), ratchet_file(ratchet_after_load(next.store(), ratchet_before))};
}

void JournalWorkspaceTest::SetUp() {
  env_.set("MORVIK_STATE_DIR", (dir_ / "state").bytes());
  paths_ = store::WorkspacePaths::from_vault_path(dir_ / ".morvik" / "vault.cord");
  store::testing::make_dir(paths_.morvik_dir);
  put_files(before_);
}

store::Path JournalWorkspaceTest::ratchet_path() const { return store::ratchet_path(paths_, root_); }
store::Path JournalWorkspaceTest::journal_path() const { return tx::transaction_path(paths_, root_); }
store::Path JournalWorkspaceTest::join_commit_path() const { return ops::join_commit_path(paths_, root_); }

std::optional<cord::Bytes> JournalWorkspaceTest::vault_on_disk() const { return file_if_present(paths_.vault_path); }
std::optional<cord::Bytes> JournalWorkspaceTest::ratchet_on_disk() const { return file_if_present(ratchet_path()); }

FileImages JournalWorkspaceTest::files_on_disk() const {
  return {vault_on_disk().value_or(cord::Bytes{}), ratchet_on_disk().value_or(cord::Bytes{})};
}

void JournalWorkspaceTest::put_files(const FileImages& images) const {
  store::testing::write_file(paths_.vault_path, images.vault);
  expect_ok(store::create_private_dir_all(store::root_state_dir(paths_, root_)));
  store::testing::write_file(ratchet_path(), images.ratchet);
}

tx::TransactionV1 JournalWorkspaceTest::journal(const FileImages& before, const FileImages& after) const {
  return tx::TransactionV1{
      cord::Bytes(32, 0x5A),
      root_,
      expect_ok(tx::NativePathV1::canonical(paths_.vault_path)),
      "vault mutation",
      tx::file_precondition::Hash{transaction_file_hash(before.vault)},
      tx::file_precondition::Hash{transaction_file_hash(before.ratchet)},
      tx::AfterImage{after.vault},
      tx::AfterImage{after.ratchet},
  };
}

void JournalWorkspaceTest::write_journal(const tx::TransactionV1& journal) const {
  expect_ok(tx::write_transaction_atomic(paths_, journal));
}

std::function<bool()> root_state_holder(const store::WorkspacePaths& paths, const core::HashValue& root,
                                        bool exclusive) {
  return [paths, root, exclusive] {
    // The holding process keeps it until it ends.
    static std::optional<store::RootStateLock> held;
    auto lock = store::acquire_root_state_lock_with_mode(paths, root, exclusive);
    if (!lock) return false;
    held.emplace(std::move(*lock));
    return true;
  };
}

std::function<bool()> JournalWorkspaceTest::root_state_holder(bool exclusive) const {
  return testing::root_state_holder(paths_, root_, exclusive);
}

OpsResult<void> JournalWorkspaceTest::commit(const FileImages& before, const FileImages& after) const {
  auto state_lock = expect_ok(store::acquire_root_state_lock(paths_, root_));
  auto workspace_lock = expect_ok(store::acquire_workspace_lock(paths_));
  return commit_after_images_locked(paths_, root_, kCrypto, "vault mutation", before.vault, before.ratchet,
                                    after.vault, after.ratchet);
}

}  // namespace morvik::ops::testing
