// Writes the seed corpus of every fuzz target, from the test factories: real
// vaults with users, groups, grants, sealed secrets and deletions, the
// ratchets and caches their loads produce, journals, keychain files,
// invitations in both forms and selector texts. Usage: fuzz_make_corpus DIR.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/domain_hash.hpp"
#include "core/invitations.hpp"
#include "frontend/invite.hpp"
#include "keychain/files.hpp"
#include "ops/join_commit.hpp"
#include "store/ratchet_file.hpp"
#include "store/transaction.hpp"
#include "store/verification_cache.hpp"
#include "support/core/vault_factory.hpp"
#include "support/frontend/bech32_encoder.hpp"
#include "support/keychain/fixtures.hpp"
#include "support/ops/journal_workspace.hpp"
#include "support/ops/secrets_vault.hpp"

namespace {

using namespace morvik;
using namespace morvik::testing;
using namespace morvik::ops::testing;
namespace tx = store::transaction;

std::filesystem::path g_root;

template <class T, class E>
T ok(std::expected<T, E> result) {
  if (!result) throw std::runtime_error(result.error().message());
  return std::move(*result);
}

void put(const std::string& target, const std::string& name, cord::ByteView bytes) {
  const auto dir = g_root / target;
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + (dir / name).string());
}

void put(const std::string& target, const std::string& name, std::string_view text) {
  put(target, name, cord::ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// A vault of every record kind: users with handles, a group with a member
// and its removal, grants of every permission and a revoked one, secrets
// sealed to their readers, a deletion, a vault handle, a record of a kind
// this version does not know, and a user who left.
core::VaultStore rich_vault() {
  SecretsVault vault;
  const auto& carol = identity(4);
  vault.add(carol, entry_point_body(vault.root().user_id, carol, 10));
  vault.add(vault.root(), user_body(carol, 10));
  vault.add(vault.root(), user_handle_body("alice", vault.alice().user_id, 11));
  const core::GroupId ops_group = group_id_of(id_seed(20));
  vault.add(vault.root(), group_body(id_seed(20), "ops", 12));
  vault.add(vault.root(), group_member_body(ops_group, user_ref(carol), 13));
  vault.add(vault.root(), group_member_body(ops_group, user_ref(vault.bob()), 13));
  vault.add(vault.root(), group_member_deleted_body(ops_group, user_ref(vault.bob()), 14));
  vault.add(vault.root(), grant_body(id_seed(21), core::PrincipalRefV1{core::principal_ref::Group{ops_group}},
                                     read_permission(prefix({"app"}, {equals("env", "prod")})), 15));
  vault.add(vault.root(), grant_body(id_seed(22), user_ref(carol),
                                     manage_permission(exact({"team"}), {kRead, kWrite}), 15));
  vault.add(vault.root(), grant_body(id_seed(23), user_ref(vault.bob()), admin_permission(), 15));
  vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(23)), admin_permission(), 16));
  vault.add(vault.root(), vault_handle_body("payments", 17));
  vault.add(vault.root(), unknown_kind_body());
  vault.set(vault.alice(), secret({"app", "db"}, {{"env", "prod"}}), "hunter2");
  core::SecretValueV1 with_fields = core::SecretValueV1::from_primary(bytes_of("key"));
  with_fields.fields.insert({"user", secret_bytes_of("admin")});
  with_fields.fields.insert({"host", secret_bytes_of("db.internal")});
  vault.set(vault.alice(), secret({"app", "api"}), with_fields);
  vault.set(vault.alice(), secret({"app", "old"}), "gone soon");
  vault.remove(vault.alice(), secret({"app", "old"}));
  vault.add(vault.root(), user_deleted_body(vault.bob().user_id, 30));
  return vault.store();
}

// A root and one user, one secret written twice by different writers at the
// same counter: a conflict.
core::VaultStore conflicted_vault() {
  TestVault vault;
  const auto& user = vault.add_user(2, 1);
  vault.add(vault.root(), grant_body(id_seed(5), user_ref(user), write_permission(any_keyspace()), 2));
  vault.add(vault.root(), secret_body(secret({"a"}), payload_for({vault.root_user_id()}), 3));
  vault.add(user, secret_body(secret({"a"}), payload_for({user.user_id}), 3));
  return vault.store();
}

core::VaultStore broken_vault() {
  TestVault vault;
  const auto& user = vault.add_user(2, 1);
  vault.add(with_flipped_signature(sign(vault.root(), user_handle_body("x", user.user_id, 2))));
  vault.add(vault.root(), with_wrong_identifier(group_body(id_seed(3), "g", 3)));
  return vault.store();
}

struct LoadedVault {
  std::string name;
  core::VaultStore store;
  core::HashValue root;
};

core::validate::ValidationReport validated(const LoadedVault& vault) {
  return ok(core::validate::validate_vault(vault.store, core::ratchet::Ratchet(vault.root), kCrypto));
}

void vaults_and_their_state(const std::vector<LoadedVault>& vaults) {
  for (const auto& vault : vaults) {
    put("vault_file", vault.name, vault_file(vault.store));
    const auto report = validated(vault);
    core::ratchet::Ratchet ratchet(vault.root);
    ratchet.apply_update(report.ratchet_update);
    put("ratchet_file", vault.name, ratchet_file(ratchet));

    cord::Set<core::HashValue> verified;
    for (const auto& hash : report.state.verified_record_hashes()) verified.insert(hash);
    const auto& signer = identity(1);
    const auto message = ok(store::verification_cache_message(vault.root, 1, verified));
    const store::VerificationCacheV1 cache{vault.root, 1, verified, signer.signing_public_key,
                                           signer.sign(core::kVerificationCacheLabel, message)};
    put("verification_cache", vault.name, ok(store::encode_verification_cache(cache)));
  }
  core::ratchet::Ratchet unknown(vaults.front().root);
  unknown.unknown.push_back({cord::Bytes{0, 0, 0, 0x63, 1, 2, 3}});
  put("ratchet_file", "unknown-record", ratchet_file(unknown));
}

void journals(const LoadedVault& before, const LoadedVault& after) {
  const cord::Bytes vault_before = vault_file(before.store);
  const cord::Bytes vault_after = vault_file(after.store);
  core::ratchet::Ratchet ratchet_before(before.root);
  ratchet_before.apply_update(validated(before).ratchet_update);
  core::ratchet::Ratchet ratchet_after = ratchet_before;
  ratchet_after.apply_update(validated(after).ratchet_update);
  const cord::Bytes ratchet_before_file = ratchet_file(ratchet_before);
  const cord::Bytes ratchet_after_file = ratchet_file(ratchet_after);

  const std::string unix_path = "/home/dev/project/.morvik/vault.cord";
  tx::TransactionV1 journal{
      cord::Bytes(32, 0x5a),
      before.root,
      tx::NativePathV1{tx::NativePathV1::Unix{cord::Bytes(unix_path.begin(), unix_path.end())}},
      "vault mutation",
      tx::file_precondition::Hash{transaction_file_hash(vault_before)},
      tx::file_precondition::Hash{transaction_file_hash(ratchet_before_file)},
      tx::AfterImage{vault_after},
      tx::AfterImage{ratchet_after_file},
  };
  put("commit_journal", "unix-path", ok(tx::encode_transaction(journal)));
  journal.vault_path = tx::NativePathV1{tx::NativePathV1::WindowsUtf16Le{cord::Bytes{'C', 0, ':', 0, '\\', 0, 'v', 0}}};
  journal.vault_before = tx::file_precondition::Absent{};
  journal.ratchet_before = tx::file_precondition::Absent{};
  put("commit_journal", "windows-path-absent-files", ok(tx::encode_transaction(journal)));

  const ops::JoinCommitJournalV1 join{before.root, join_commit_hash(vault_before),
                                      join_commit_hash(ratchet_before_file), vault_after, ratchet_after_file};
  put("join_commit_journal", "enrollment", join_commit_file(join));
}

void keychain_files() {
  using namespace keychain::testing;
  const auto& user = identity(2);
  const core::HashValue root = key_hash_of(identity(1));
  SealInput input;
  input.master_seed = cord::Bytes(32, 0x42);
  input.passphrase = "correct horse";
  input.root = root;
  input.user = user.user_id;
  const auto sealed = seal_identity(input);
  put("identity_file", "sealed", ok(keychain::encode_identity_file(sealed)));

  const keychain::CurrentUserV1 chosen{user.user_id, "@alice"};
  const keychain::CurrentUserV1 bare{user.user_id, std::nullopt};
  put("current_user_file", "with-selector", ok(keychain::encode_current_user_file(chosen)));
  put("current_user_file", "without-selector", ok(keychain::encode_current_user_file(bare)));

  const cord::Evolving<keychain::KeychainRecordV1> unknown(cord::UnknownPayload{cord::Bytes{0, 0, 0, 7, 0xaa}});
  put("keychain_file", "combined",
      ok(keychain::encode_keychain_records(records_of({identity_record(sealed), current_user_record(chosen)}))));
  put("keychain_file", "with-unknown-record",
      ok(keychain::encode_keychain_records(records_of({identity_record(sealed), unknown}))));
  put("keychain_file", "empty", ok(keychain::encode_keychain_records({})));
}

void invitations(const LoadedVault& vault) {
  core::ratchet::Ratchet ratchet(vault.root);
  ratchet.apply_update(validated(vault).ratchet_update);
  const auto records = ratchet.to_records();
  const core::SecretBytes seed(32, 0x11);
  const std::vector<std::pair<std::string, core::Invite>> invites{
      {"v1", core::InviteV1{seed, vault.root, {records}}},
      {"v1-empty-baseline", core::InviteV1{seed, vault.root, {}}},
      {"v2", core::InviteV2{seed, vault.root, core::RatchetBaselineV1{records}}},
      {"v2-no-baseline", core::InviteV2{seed, vault.root, std::nullopt}},
  };
  for (const auto& [name, invite] : invites) {
    const cord::Bytes payload = ok(cord::serialize(invite));
    cord::Bytes file;
    file.reserve(frontend::kInviteMagic.size() + payload.size());
    file.insert(file.end(), frontend::kInviteMagic.begin(), frontend::kInviteMagic.end());
    file.insert(file.end(), payload.begin(), payload.end());
    put("invite_bytes", name, file);
    // Strings are at most 1023 characters: only small baselines fit.
    if (payload.size() < 600) {
      put("invite_text", name + "-bech32m", frontend::testing::invite_text(payload));
      put("invite_text", name + "-bech32", frontend::testing::invite_text(payload, frontend::bech32::Checksum::Bech32));
    }
  }
}

void selector_texts() {
  const std::vector<std::pair<std::string, std::string>> texts{
      {"plain", "app/db"},
      {"labels", "app/db@env=prod&region=eu"},
      {"quoted", "\"a/b\"/c@\"k=1\"=\"v&w\""},
      {"escaped", "a\\/b/c\\\\d@k\\@=v\\\""},
      {"unicode", "caf\u00e9/cafe\u0301/\u65e5\u672c@\u00fc=\u00df"},
      {"one-segment", "x"},
      {"dangling-escape", "a\\"},
      {"unterminated-quote", "\"a"},
      {"duplicate-key", "a@k=1&k=2"},
      {"empty-segment", "a//b"},
  };
  for (const auto& [name, text] : texts) put("selector_text", name, text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_make_corpus DIR\n";
    return 2;
  }
  g_root = argv[1];
  try {
    TestVault root_only;
    SecretsVault secrets;
    secrets.set(secrets.alice(), secret({"app", "db"}), "pw");
    const std::vector<LoadedVault> vaults{
        {"root-only", root_only.store(), root_only.trusted_root()},
        {"secrets", secrets.store(), secrets.trusted_root()},
        {"rich", rich_vault(), secrets.trusted_root()},
        {"conflicted", conflicted_vault(), root_only.trusted_root()},
        {"broken", broken_vault(), root_only.trusted_root()},
    };
    vaults_and_their_state(vaults);
    journals(vaults[1], vaults[2]);
    keychain_files();
    invitations(vaults[1]);
    selector_texts();
  } catch (const std::exception& e) {
    std::cerr << "fuzz_make_corpus: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
