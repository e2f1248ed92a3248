#include "support/ops/team_workspace.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include "store/transaction.hpp"
#include "store/write_fault.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::ops::testing {

namespace {

using namespace morvik::testing;

// Exit codes of the committing child.
constexpr int kCrashed = 77;
constexpr int kNotCrashed = 78;

}  // namespace

TestVault team_vault() {
  TestVault vault(kTeamRoot);
  const auto& root = vault.root();
  const auto& alice = vault.add_user(kTeamAlice, 1);
  const auto& bob = vault.add_user(kTeamBob, 1);
  vault.add_user(kTeamCarol, 1);
  vault.add(root, vault_handle_body("acme", 1));
  vault.add(root, user_handle_body("alice", alice.user_id, 1));
  vault.add(root, user_handle_body("bob", bob.user_id, 1));
  vault.add(root, grant_body(id_seed(kAliceReadGrant), user_ref(alice), read_permission(prefix({"app"})), 1));
  vault.add(root, grant_body(id_seed(kAliceWriteGrant), user_ref(alice), write_permission(prefix({"app"})), 1));
  const core::GroupId readers = group_id_of(id_seed(kReadersGroup));
  vault.add(root, group_body(id_seed(kReadersGroup), "readers", 1));
  vault.add(root, group_member_body(readers, user_ref(bob), 1));
  vault.add(root, grant_body(id_seed(kReadersGrant), core::principal_ref::Group{readers},
                             read_permission(prefix({"app"})), 1));
  return vault;
}

TeamWorkspaceTest::TeamWorkspaceTest() : vault_(team_vault()), workspace_(vault_) {
  for (const auto* user : {&root(), &alice(), &bob(), &carol()}) workspace_.add_identity(*user, kPassphrase);
  core::SecretValueV1 db = core::SecretValueV1::from_primary(bytes_of("s3cret"));
  db.fields.insert(core::SecretFieldEntryV1{"user", secret_bytes_of("admin")});
  workspace_.set_secret(alice(), kDb, db);
  workspace_.set_secret(alice(), kApi, "key-1");
}

LockedSession TeamWorkspaceTest::load() const {
  auto session = LockedSession::load(paths(), kCrypto);
  if (!session) ADD_FAILURE() << session.error().message();
  return std::move(session).value();
}

PassphraseKeychain TeamWorkspaceTest::keychain(std::string_view passphrase) const {
  return PassphraseKeychain(workspace_.keychain_dir(), keychain::StaticPassphraseProvider(passphrase));
}

void TeamWorkspaceTest::crash_commit(const store::WorkspacePaths& paths, const crypto::Identity& writer,
                                     const core::SecretSelectorV1& selector, std::string_view value,
                                     const std::optional<store::Path>& killed_replacing) const {
  const store::Path target = killed_replacing.value_or(paths.vault_path);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto session = LockedSession::load(paths, kCrypto);
    auto identity = crypto::Identity::from_master_seed(kCrypto, writer.master_seed);
    if (!session || !identity) ::_exit(kNotCrashed);
    auto unlocked = UnlockedSession::with_identity(std::move(*session), kCrypto, std::move(*identity));
    if (!unlocked) ::_exit(kNotCrashed);
    store::ScopedWriteFault killed([&](store::WriteStep step, const store::Path& path) {
      if (step == store::WriteStep::Replace && path == target) ::_exit(kCrashed);
      return 0;
    });
    (void)unlocked->set_secret(kCrypto, selector, bytes_of(value));
    ::_exit(kNotCrashed);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), kCrashed);
}

store::WorkspacePaths TeamWorkspaceTest::copy_of_vault() const {
  const auto copy = store::WorkspacePaths::from_vault_path(workspace_.dir() / "copy" / ".morvik" / "vault.cord");
  store::testing::make_dir(workspace_.dir() / "copy");
  store::testing::make_dir(copy.morvik_dir);
  store::testing::write_file(copy.vault_path, store::testing::read_file(paths().vault_path));
  return copy;
}

std::string TeamWorkspaceTest::interrupt_a_commit_of_a_copy() const {
  crash_commit(copy_of_vault(), alice(), kApi, "from the copy");
  const auto journal = store::transaction::read_transaction(paths(), trusted_root()).value().value();
  return "a pending transaction " + transaction_id_hex(journal.transaction_id) + " from " +
         store::transaction::NativePathV1::to_path_buf(journal.vault_path)->display() + " blocks writes for this vault";
}

std::string TeamWorkspaceTest::add_a_strangers_record() const {
  const crypto::Identity stranger = identity(9);
  workspace_.add_records({sign(stranger, vault_handle_body("rogue", 5))});
  return "validation failed: [UnknownSignerKey(" + core::debug_string(key_hash_of(stranger)) + ")]";
}

std::uint64_t counter_of(const core::VaultRecordV1& record) {
  return core::body_counter(*record.body.known()).value_or(0);
}

std::string user_debug(const crypto::Identity& user) { return core::debug_string(user.user_id); }

}  // namespace morvik::ops::testing
