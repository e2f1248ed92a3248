// How many signatures a validation checks: each record at most once, and
// none whose hash the caller already verified.

#include "pipeline_helpers.hpp"

namespace morvik::testing {
namespace {

// The real provider, counting the signatures it is asked to check.
struct CountingCrypto {
  core::HashValue hash(std::string_view domain, cord::ByteView data) const { return kCrypto.hash(domain, data); }
  bool verify_signature(std::string_view domain, cord::ByteView key, cord::ByteView message,
                        cord::ByteView signature) const {
    ++verifications;
    return kCrypto.verify_signature(domain, key, message, signature);
  }
  mutable int verifications = 0;
};
static_assert(core::CryptoProvider<CountingCrypto>);

TEST(PipelineSignaturesTest, EachRecordIsVerifiedOnceAndCachedOnesNotAtAll) {
  TestVault vault;
  const auto& alice = vault.add_user(2, 1);
  const auto& bob = vault.add_user(3, 1);
  vault.add(alice, user_body(identity(4), 1));  // a user vouched for by a user
  vault.add(vault.root(), grant_body(id_seed(1), user_ref(bob), admin_permission(), 2));
  vault.add(bob, secret_body(secret({"app"}), payload_for({bob.user_id}), 3));
  const auto records = core::vault_records(vault.store()).size();

  CountingCrypto cold;
  const auto report = core::validate::validate_vault(vault.store(), fresh_ratchet(vault), cold).value();
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.state.records.size(), records);
  // Root, user and entry-point records are looked at in several steps.
  EXPECT_EQ(cold.verifications, static_cast<int>(records));

  CountingCrypto warm;
  const auto again = core::validate::validate_vault_with_verified(vault.store(), fresh_ratchet(vault), warm,
                                                                  report.state.verified_record_hashes())
                         .value();
  EXPECT_EQ(warm.verifications, 0);
  EXPECT_EQ(again.state.verified_record_hashes(), report.state.verified_record_hashes());
}

TEST(PipelineSignaturesTest, RecordsOfOneEncodingCountOnceWhereverTheyStand) {
  TestVault vault;
  const auto& bob = vault.add_user(2, 1);
  const auto written = sign(bob, secret_body(secret({"app"}), payload_for({bob.user_id}), 3));
  const auto expected = validate(vault);
  // The same bytes held undecoded: another value of the set, one record.
  auto raw = written;
  raw.body = cord::UnknownPayload{cord::serialize(*written.body.known()).value()};
  ASSERT_EQ(cord::serialize(raw).value(), cord::serialize(written).value());
  vault.add(written);
  vault.add(raw);
  ASSERT_EQ(core::vault_records(vault.store()).size(), 5u);

  const auto report = validate(vault);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_TRUE(report.warnings.empty());
  EXPECT_EQ(report.state.records.size(), expected.state.records.size() + 1);
}

}  // namespace
}  // namespace morvik::testing
