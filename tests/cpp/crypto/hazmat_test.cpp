#include <gtest/gtest.h>

#include "crypto/hazmat.hpp"
#include "crypto/provider.hpp"

namespace morvik::core::hazmat {
namespace {

using crypto::Crypto;
using crypto::Identity;

Identity writer(std::uint8_t fill = 3) {
  return std::move(*Identity::from_master_seed(Crypto{}, cord::Bytes(32, fill)));
}

bool verifies(const VaultRecordV1& record) {
  auto message = signed_record_message(record);
  return message && Crypto{}.verify_signature(kSignedRecordLabel, record.signing_public_key, *message, record.signature);
}

SecretSelectorV1 selector() { return SecretSelectorV1{{"prod", "db"}, {SecretLabelV1{"env", "eu"}}}; }

SealedPayloadV1 payload() { return SealedPayloadV1{cord::Bytes(12, 1), cord::Bytes(20, 2), {}}; }

template <std::size_t... I>
std::vector<RecordBodyV1> one_body_of_each_kind(std::index_sequence<I...>) {
  return {RecordBodyV1(std::in_place_index<I>)...};
}

TEST(Hazmat, EveryRecordKindSignsAndVerifies) {
  Identity identity = writer();
  auto bodies = one_body_of_each_kind(std::make_index_sequence<std::variant_size_v<RecordBodyV1>>());
  ASSERT_EQ(bodies.size(), 14u);
  for (std::size_t kind = 0; kind < bodies.size(); ++kind) {
    SCOPED_TRACE(kind);
    auto record = signed_payload(Crypto{}, identity, cord::Evolving<RecordBodyV1>(bodies[kind]));
    ASSERT_TRUE(record.has_value()) << record.error().message();
    EXPECT_EQ(record->signing_public_key, identity.signing_public_key);
    EXPECT_TRUE(verifies(*record));

    // A changed body fails; a changed signature leaves the message alone.
    VaultRecordV1 changed_body = *record;
    std::visit(
        [](auto& body) {
          if constexpr (requires { body.counter; }) {
            ++body.counter;
          } else {
            cord::Bytes key(body.root_encryption_public_key);
            key.push_back(1);
            body.root_encryption_public_key = key;
          }
        },
        *changed_body.body.known());
    EXPECT_FALSE(verifies(changed_body));
    VaultRecordV1 changed_signature = *record;
    cord::Bytes signature(changed_signature.signature);
    signature[0] ^= 1;
    changed_signature.signature = signature;
    EXPECT_EQ(signed_record_message(changed_signature), signed_record_message(*record));
    EXPECT_FALSE(verifies(changed_signature));
  }
}

TEST(Hazmat, ABodyOfAnUnknownKindIsSignedAsTheBytesRead) {
  Identity identity = writer();
  cord::Evolving<RecordBodyV1> unknown(cord::UnknownPayload{{0, 0, 0, 99, 1, 2, 3}});
  auto record = signed_payload(Crypto{}, identity, unknown);
  ASSERT_TRUE(record.has_value());
  EXPECT_TRUE(verifies(*record));
  auto reread = cord::deserialize<VaultRecordV1>(*cord::serialize(*record));
  ASSERT_TRUE(reread.has_value());
  ASSERT_NE(reread->body.unknown(), nullptr);
  EXPECT_EQ(signed_record_message(*reread), signed_record_message(*record));
  EXPECT_TRUE(verifies(*reread));
}

TEST(Hazmat, SecretRecordsCarryTheDerivedSecretId) {
  Identity identity = writer();
  auto record = secret_record(Crypto{}, identity, selector(), payload(), 7);
  ASSERT_TRUE(record.has_value()) << record.error().message();
  EXPECT_TRUE(verifies(*record));
  const auto* secret = std::get_if<record_body::Secret>(record->body.known());
  ASSERT_NE(secret, nullptr);
  EXPECT_EQ(secret->secret_id, *derive_secret_id(Crypto{}, selector()));
  EXPECT_EQ(secret->selector, selector());
  EXPECT_EQ(secret->payload, payload());
  EXPECT_EQ(secret->counter, 7u);

  auto deleted = secret_deleted_record(Crypto{}, identity, selector(), 8);
  ASSERT_TRUE(deleted.has_value());
  EXPECT_TRUE(verifies(*deleted));
  const auto* deletion = std::get_if<record_body::SecretDeleted>(deleted->body.known());
  ASSERT_NE(deletion, nullptr);
  EXPECT_EQ(deletion->secret_id, secret->secret_id);
  EXPECT_EQ(deletion->counter, 8u);

  // A counter raised after signing is caught.
  VaultRecordV1 raised = *record;
  std::get<record_body::Secret>(*raised.body.known()).counter = 8;
  EXPECT_FALSE(verifies(raised));
}

TEST(Hazmat, SameBodyUnderTwoKeysHasOneMessage) {
  Identity a = writer(3), b = writer(4);
  auto ra = secret_deleted_record(Crypto{}, a, selector(), 1);
  auto rb = secret_deleted_record(Crypto{}, b, selector(), 1);
  EXPECT_EQ(signed_record_message(*ra), signed_record_message(*rb));
  EXPECT_NE(ra->signature, rb->signature);
  EXPECT_TRUE(verifies(*ra));
  EXPECT_TRUE(verifies(*rb));
}

TEST(Hazmat, AnInconsistentIdentitySignsNothing) {
  Identity identity = writer(3);
  Identity other = writer(4);
  const UserId derived = identity.user_id;
  identity.user_id = other.user_id;
  const HazmatError expected{HazmatError::SignerMismatch{other.user_id, derived}};

  auto consistent = ensure_identity_consistent(Crypto{}, identity);
  ASSERT_FALSE(consistent.has_value());
  EXPECT_EQ(consistent.error(), expected);
  EXPECT_EQ(consistent.error().message(), "signer identity does not match signing public key");
  EXPECT_EQ(secret_record(Crypto{}, identity, selector(), payload(), 1).error(), expected);
  EXPECT_EQ(secret_deleted_record(Crypto{}, identity, selector(), 1).error(), expected);
  EXPECT_EQ(signed_payload(Crypto{}, identity, RecordBodyV1(record_body::VaultHandle{})).error(), expected);

  EXPECT_EQ(ensure_identity_consistent(Crypto{}, other), other.user_id);
}

TEST(Hazmat, AppendingTheSameRecordTwiceKeepsOne) {
  Identity identity = writer();
  VaultStore store{vault_store::V1{}};
  auto record = secret_record(Crypto{}, identity, selector(), payload(), 1);
  append_record(store, *record);
  append_record(store, *record);
  EXPECT_EQ(vault_records(store).size(), 1u);
  append_record(store, *secret_record(Crypto{}, identity, selector(), payload(), 2));
  EXPECT_EQ(vault_records(store).size(), 2u);
}

TEST(Hazmat, ErrorTexts) {
  EXPECT_EQ(HazmatError{HazmatError::Core{CoreError::validation("x")}}.message(), "core error: validation failed: x");
}

}  // namespace
}  // namespace morvik::core::hazmat
