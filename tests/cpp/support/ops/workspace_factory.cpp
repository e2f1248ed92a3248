#include "support/ops/workspace_factory.hpp"

#include "core/vault_file/vault_file.hpp"
#include "keychain/files.hpp"
#include "ops/seal_secret.hpp"
#include "ops/transaction.hpp"
#include "store/atomic_write.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_locks.hpp"
#include "store/vault_file.hpp"
#include "support/keychain/fixtures.hpp"
#include "support/ops/fixture_result.hpp"
#include "support/ops/journal_workspace.hpp"

namespace morvik::ops::testing {

namespace {

using morvik::testing::kCrypto;

inline constexpr std::string_view kInviteMagic{"morvik-invite\0", 14};

}  // namespace

TestWorkspace::TestWorkspace(const morvik::testing::TestVault& vault)
    : temporary_(std::in_place), dir_(temporary_->path()), root_(vault.trusted_root()) {
  lay_out(vault);
}

TestWorkspace::TestWorkspace(const morvik::testing::TestVault& vault, const store::Path& dir)
    : dir_(dir), root_(vault.trusted_root()) {
  lay_out(vault);
}

void TestWorkspace::lay_out(const morvik::testing::TestVault& vault) {
  for (const auto& [name, value] : environment()) env_.set(name, value);
  paths_ = store::WorkspacePaths::from_vault_path(dir_.join("project").join(".morvik").join("vault.cord"));
  expect_ok(store::create_dir_all(paths_.morvik_dir));
  expect_ok(store::write_vault_bytes_atomic(paths_, vault_file(vault.store())));
  expect_ok(store::write_ratchet_atomic(paths_, ratchet_after_load(vault.store(), core::ratchet::Ratchet(root_))));
}

store::Path TestWorkspace::keychain_dir() const { return dir_.join("keychain"); }

store::Path TestWorkspace::ratchet_path() const { return store::ratchet_path(paths_, root_); }

std::vector<std::pair<std::string, std::string>> TestWorkspace::environment() const {
  return {{"MORVIK_STATE_DIR", dir_.join("state").bytes()}, {"MORVIK_KEYCHAIN_DIR", keychain_dir().bytes()}};
}

void TestWorkspace::add_identity(const crypto::Identity& user, std::string_view passphrase) const {
  keychain::testing::SealInput input;
  input.master_seed.assign(user.master_seed.begin(), user.master_seed.end());
  input.passphrase = passphrase;
  input.root = root_;
  input.user = user.user_id;
  const auto sealed = keychain::testing::seal_identity(input);
  keychain::testing::write_file(keychain::identity_path(keychain_dir(), root_, user.user_id),
                                keychain::testing::identity_file(sealed));
}

void TestWorkspace::set_current_user(const core::UserId& user) const {
  keychain::testing::write_file(keychain::current_user_path(keychain_dir(), root_),
                                keychain::testing::current_user_file(keychain::CurrentUserV1{user, std::nullopt}));
}

void TestWorkspace::remove_ratchet() const { expect_ok(store::remove_file_durable(ratchet_path())); }

void TestWorkspace::add_records(const std::vector<core::VaultRecordV1>& records) const {
  core::VaultStore vault = expect_ok(store::read_vault(paths_));
  for (const auto& record : records) core::vault_records(vault).insert(record);
  expect_ok(store::write_vault_bytes_atomic(paths_, vault_file(vault)));
}

UnlockedSession TestWorkspace::open_as(const crypto::Identity& user) const {
  auto session = expect_ok(LockedSession::load(paths_, kCrypto));
  auto identity = expect_ok(crypto::Identity::from_master_seed(kCrypto, user.master_seed));
  return expect_ok(UnlockedSession::with_identity(std::move(session), kCrypto, std::move(identity)));
}

void TestWorkspace::set_secret(const crypto::Identity& writer, const core::SecretSelectorV1& selector,
                               const core::SecretValueV1& value) const {
  expect_ok(open_as(writer).set_secret_value(kCrypto, selector, value));
}

void TestWorkspace::set_secret(const crypto::Identity& writer, const core::SecretSelectorV1& selector,
                               std::string_view primary) const {
  set_secret(writer, selector, core::SecretValueV1::from_primary(cord::Bytes(primary.begin(), primary.end())));
}

void TestWorkspace::delete_secret(const crypto::Identity& writer, const core::SecretSelectorV1& selector) const {
  expect_ok(open_as(writer).delete_secret(kCrypto, selector));
}

void TestWorkspace::set_secrets(const crypto::Identity& writer,
                                const std::vector<std::pair<core::SecretSelectorV1, core::SecretValueV1>>& secrets) const {
  {
    const UnlockedSession session = open_as(writer);
    core::validate::RecordSet working = session.session().records;
    std::vector<core::validate::AddedRecord> added;
    added.reserve(secrets.size());
    for (const auto& [selector, value] : secrets) {
      expect_ok(ensure_secret_writable(session.state(), selector, writer.user_id));
      added.push_back(
          expect_ok(seal_secret_value(session.state(), kCrypto, session.identity(), selector, value)).record);
    }
    working.append_records(std::move(added));
    const core::ratchet::Ratchet ratchet = ratchet_after_load(working.store(), session.session().ratchet);
    auto state_lock = expect_ok(store::acquire_root_state_lock(paths_, root_));
    auto workspace_lock = expect_ok(store::acquire_workspace_lock(paths_));
    expect_ok(commit_after_images_locked(paths_, root_, kCrypto, kVaultMutation, *session.session().vault_bytes,
                                         store::testing::read_file(ratchet_path()),
                                         *expect_ok(core::validate::encode_vault_records(working)).bytes,
                                         ratchet_file(ratchet)));
  }
  // Opening attests every record it verified.
  (void)open_as(writer);
}

std::vector<core::RatchetRecordV1> TestWorkspace::baseline() const {
  const core::VaultStore vault = expect_ok(store::read_vault(paths_));
  return ratchet_after_load(vault, core::ratchet::Ratchet(root_)).to_records();
}

core::Invite TestWorkspace::invite(const crypto::Identity& user, InviteVersion version,
                                   std::optional<std::vector<core::RatchetRecordV1>> baseline) const {
  if (version == InviteVersion::V1) {
    return core::invite::V1{user.master_seed, root_, core::RatchetBaselineV1{std::move(baseline).value_or(std::vector<core::RatchetRecordV1>{})}};
  }
  std::optional<core::RatchetBaselineV1> carried;
  if (baseline) carried = core::RatchetBaselineV1{std::move(*baseline)};
  return core::invite::V2{user.master_seed, root_, std::move(carried)};
}

cord::Bytes invite_file(const core::Invite& invite) {
  cord::Bytes bytes(kInviteMagic.begin(), kInviteMagic.end());
  const cord::Bytes encoded = expect_ok(cord::serialize(invite));
  bytes.insert(bytes.end(), encoded.begin(), encoded.end());
  return bytes;
}

}  // namespace morvik::ops::testing
