// Which user each signing key belongs to, and what becomes of records whose
// signer or signature does not hold.

#include "pipeline_helpers.hpp"

namespace morvik::testing {
namespace {

bool verified_with_signer(const ValidationReport& report, const core::RecordKey& key, const core::UserId& signer) {
  for (const auto& record : report.state.records) {
    if (record.key == key && record.signer == signer) return true;
  }
  return false;
}

TEST(PipelineSignersTest, KeysBelongToUsersVouchedForByTrustedUsers) {
  TestVault vault;
  const auto bob = identity(2);
  const auto alice = identity(3);
  const auto stranger = identity(4);
  vault.add(vault.root(), user_body(bob, 1));
  vault.add(bob, user_body(alice, 1));  // vouched for by bob, not by the root
  vault.add(alice, entry_point_body(vault.root_user_id(), alice, 1));
  const auto good = sign(alice, vault_handle_body("alpha", 2));
  vault.add(good);
  const auto forged = with_flipped_signature(sign(bob, vault_handle_body("beta", 2)));
  vault.add(forged);
  vault.add(stranger, vault_handle_body("gamma", 2));
  // Broken and from a stranger: the structure is what gets reported.
  vault.add(stranger, with_wrong_identifier(vault_handle_body("delta", 2)));

  const auto report = validate(vault);
  const auto& beta = std::get<core::VaultHandleRecordV1>(*forged.body.known());
  // One issue per broken record, in the order of the record set.
  ASSERT_EQ(report.issues.size(), 3u);
  for (const ValidationIssue& issue : {
           ValidationIssue(ValidationIssue::InvalidSignature{core::record_key::VaultHandle{beta.handle_id}}),
           ValidationIssue(ValidationIssue::UnknownSignerKey{key_hash_of(stranger)}),
           ValidationIssue(ValidationIssue::InvalidStructure{"invalid vault handle record"}),
       }) {
    EXPECT_NE(std::find(report.issues.begin(), report.issues.end(), issue), report.issues.end()) << issue;
  }
  EXPECT_TRUE(verified_with_signer(report, core::record_key::EntryPoint{alice.user_id}, alice.user_id));
  EXPECT_TRUE(verified_with_signer(
      report, core::record_key::VaultHandle{std::get<core::VaultHandleRecordV1>(*good.body.known()).handle_id},
      alice.user_id));
  // Known key, but only an administrator's user record makes a user live.
  EXPECT_FALSE(report.state.users.contains(alice.user_id));
  EXPECT_TRUE(report.state.vault_handles.empty());
}

// A user record declaring `signer`'s signing key under `other`'s encryption
// key: a second user claiming the same key.
core::RecordBodyV1 twin_user_body(const crypto::Identity& signer, const crypto::Identity& other) {
  core::UserRecordV1 twin{{}, signer.signing_public_key, other.encryption_public_key, 1};
  twin.user_id = core::derive_user_id(kCrypto, twin.signing_public_key, twin.encryption_public_key).value();
  return twin;
}

TEST(PipelineSignersTest, AKeyTwoUsersDeclareGoesToTheOneWithAnEntryPoint) {
  TestVault vault;
  const auto carol = identity(3);
  const auto twin = twin_user_body(carol, identity(4));
  vault.add(vault.root(), user_body(carol, 1));
  vault.add(vault.root(), twin);
  vault.add(vault.root(), grant_body(id_seed(1), user_ref(carol), admin_permission(), 1));
  const auto handle = sign(carol, vault_handle_body("carols", 2));
  vault.add(handle);

  // Neither has entered: the key is ambiguous, its records dropped silently.
  auto report = validate(vault);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.warnings, std::vector<ValidationWarning>{ValidationWarning::AmbiguousSignerKey{key_hash_of(carol)}});
  EXPECT_EQ(report.state.records.size(), 4u);  // root, two user records, grant
  EXPECT_TRUE(report.state.vault_handles.empty());

  // Carol's own entry point settles it.
  vault.add(carol, entry_point_body(vault.root_user_id(), carol, 1));
  report = validate(vault);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_TRUE(report.warnings.empty());
  EXPECT_TRUE(report.state.users.contains(carol.user_id));
  EXPECT_FALSE(report.state.users.contains(std::get<core::UserRecordV1>(twin).user_id));
  EXPECT_EQ(report.state.vault_handles.size(), 1u);
}

TEST(PipelineSignersTest, TheRootKeyStaysTheRootsWhoeverDeclaresIt) {
  TestVault vault;
  vault.add(vault.root(), twin_user_body(vault.root(), identity(4)));
  vault.add(vault.root(), vault_handle_body("main", 1));
  const auto report = validate(vault);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_TRUE(report.warnings.empty());
  EXPECT_EQ(report.state.vault_handles.size(), 1u);
}

// The signer step on its own, over records listed in the order given, their
// signatures taken as checked.
core::validate::detail::SignerAssignment assign_signers(const TestVault& vault,
                                                        const std::vector<core::VaultRecordV1>& records) {
  using namespace core::validate::detail;
  core::VaultStore store;
  for (const auto& record : records) core::vault_records(store).insert(record);
  // Held in the order given, which a set would not keep.
  const auto held = core::validate::RecordSet::of(store).value();
  Listing listing;
  for (const auto& record : records) {
    const auto at = std::find_if(held.records().begin(), held.records().end(),
                                 [&](const core::validate::HeldRecord& h) { return *h.record == record; });
    listing.records.push_back(ListedRecord{&*at, record_hash(record), true, {}});
  }
  SignatureChecks<crypto::Crypto> checks(kCrypto, listing);
  const core::validate::SelectedRoot root{vault.root_user_id(), vault.root().encryption_public_key,
                                          vault.root().signing_public_key, vault.trusted_root()};
  return core::validate::detail::assign_signers(listing.records, root, checks, kCrypto).value();
}

TEST(PipelineSignersTest, AChainListedBackwardsIsFollowedToItsEnd) {
  TestVault vault;
  std::vector<crypto::Identity> chain;
  for (std::uint8_t seed = 10; seed < 50; ++seed) chain.push_back(identity(seed));
  // Each user vouched for by the one before it, the first by the root; the
  // last link is listed first.
  std::vector<core::VaultRecordV1> records;
  for (std::size_t k = chain.size(); k-- > 0;) {
    records.push_back(sign(k == 0 ? vault.root() : chain[k - 1], user_body(chain[k], 1)));
  }
  const auto outsider = identity(61);
  records.push_back(sign(identity(60), user_body(outsider, 1)));

  const auto assignment = assign_signers(vault, records);
  EXPECT_EQ(assignment.signers.size(), chain.size() + 1);  // the root's key too
  for (const auto& user : chain) EXPECT_EQ(assignment.signers.at(user.signing_public_key), user.user_id);
  EXPECT_FALSE(assignment.signers.contains(outsider.signing_public_key));
  EXPECT_TRUE(assignment.ambiguous_keys.empty());
}

}  // namespace
}  // namespace morvik::testing
