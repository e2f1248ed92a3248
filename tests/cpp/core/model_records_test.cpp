#include <gtest/gtest.h>

#include <map>

#include "core/record_key.hpp"
#include "core/records.hpp"
#include "core/vault_file/vault_file.hpp"
#include "model_fixtures.hpp"
#include "support/cord/corruptions.hpp"

namespace morvik::core {
namespace {

using namespace model_test;

VaultRecordV1 envelope(cord::Evolving<RecordBodyV1> body) {
  return VaultRecordV1{std::move(body), filled(32, 0xee), filled(64, 0x55)};
}

cord::Bytes encode(const auto& value) {
  auto bytes = cord::serialize(value);
  EXPECT_TRUE(bytes) << bytes.error().message();
  return bytes.value_or(cord::Bytes{});
}

KeyspaceSelectorV1 prefix_keyspace() {
  return KeyspaceSelectorV1{tuple_matcher::Prefix{{"app"}},
                            {{"env", label_matcher::In{{"dev", "prod"}}}, {"team", label_matcher::Absent{}}}};
}

// One body of every kind, in wire order, with every field set.
std::vector<RecordBodyV1> one_body_of_each_kind() {
  const SecretSelectorV1 selector{{"app", "db"}, {{"env", "prod"}}};
  return {
      VaultRootRecordV1{id_of<UserId>(1), filled(32, 2)},
      EntryPointRecordV1{id_of<UserId>(1), filled(32, 3), 1},
      UserRecordV1{id_of<UserId>(4), filled(32, 5), filled(32, 6), 2},
      UserHandleRecordV1{id_of<UserHandleId>(7), "alice", id_of<UserId>(4), 3},
      GroupRecordV1{id_of<GroupId>(8), IdSeed{filled(16, 9)}, "ops", 4},
      GroupDeletedRecordV1{id_of<GroupId>(8), 5},
      GroupMemberRecordV1{id_of<GroupMemberId>(10), id_of<GroupId>(8), PrincipalRefV1{id_of<UserId>(4)}, 6},
      GroupMemberDeletedRecordV1{id_of<GroupMemberId>(10), id_of<GroupId>(8), PrincipalRefV1{id_of<GroupId>(11)}, 7},
      GrantRecordV1{id_of<GrantId>(12), IdSeed{filled(16, 13)}, PrincipalRefV1{id_of<GroupId>(8)},
                    ManageKeyspaceGrantV1{prefix_keyspace(),
                                          {keyspace_grant_class::Read{}, keyspace_grant_class::Manage{}}},
                    8},
      GrantDeletedRecordV1{id_of<GrantId>(12), grant_permission::Write{KeyspaceSelectorV1{tuple_matcher::Exact{{}}, {}}},
                           9},
      UserDeletedRecordV1{id_of<UserId>(4), "left the team", 10},
      SecretRecordV1{id_of<SecretId>(14), selector,
                     SealedPayloadV1{filled(12, 15), filled(40, 16), {{id_of<UserId>(4), filled(32, 17), filled(48, 18)}}},
                     11},
      SecretDeletedRecordV1{id_of<SecretId>(14), selector, 12},
      VaultHandleRecordV1{id_of<VaultHandleId>(19), "prod-vault", ~std::uint64_t{0}},
  };
}

struct UnknownCase {
  const char* what;
  std::string payload;  // hex of a body this version cannot read
};

// Bodies naming a kind or a nested variant this version does not know.
std::vector<UnknownCase> unknown_bodies() {
  const std::string keyspace_any = "00000000 00000000";
  return {
      {"kind 14", "0000000e 0102030405"},
      {"kind 4294967295", "ffffffff"},
      {"member index 2", "00000006" + id_hex(10) + id_hex(8) + "00000002" + id_hex(4) + u64_hex(6)},
      {"grantee index 2", "00000008" + id_hex(12) + "00000001 09" + "00000002" + id_hex(4) + "00000003" + u64_hex(1)},
      {"permission index 4", "00000008" + id_hex(12) + "00000001 09" + "00000000" + id_hex(4) + "00000004" + u64_hex(1)},
      {"grantable class 3", "00000009" + id_hex(12) + "00000002" + keyspace_any + "00000001 00000003" + u64_hex(1)},
      {"tuple matcher 3", "00000009" + id_hex(12) + "00000000 00000003 00000000" + u64_hex(1)},
      {"label matcher 4", "00000009" + id_hex(12) + "00000001 00000000 00000001 00000001 61 00000004" + u64_hex(1)},
  };
}

std::string record_hex(const std::string& body_hex) {
  const auto body = hex(body_hex);
  return "0000" + to_hex(cord::Bytes{static_cast<std::uint8_t>(body.size() >> 8), static_cast<std::uint8_t>(body.size())}) +
         body_hex + "00000020" + to_hex(filled(32, 0xee)) + "00000040" + to_hex(filled(64, 0x55));
}

TEST(ModelRecordsTest, GroupDeletedBodyAndRecordBytes) {
  const VaultRecordV1 record = envelope(RecordBodyV1{GroupDeletedRecordV1{id_of<GroupId>(0xab), 5}});
  const auto body = encode(record.body);
  EXPECT_EQ(to_hex(body), "00000030" "00000005" + id_hex(0xab) + "0000000000000005");
  const auto bytes = encode(record);
  EXPECT_EQ(bytes.size(), 156u);
  EXPECT_EQ(to_hex(bytes), record_hex("00000005" + id_hex(0xab) + "0000000000000005"));
}

TEST(ModelRecordsTest, BodySizesWithThirtyTwoByteIdentifiersAndKeys) {
  struct SizeCase {
    const char* kind;
    RecordBodyV1 body;
    std::size_t size;
  };
  const SizeCase cases[] = {
      {"VaultRoot", VaultRootRecordV1{id_of<UserId>(1), filled(32, 2)}, 76},
      {"EntryPoint", EntryPointRecordV1{id_of<UserId>(1), filled(32, 2), 3}, 84},
      {"User", UserRecordV1{id_of<UserId>(1), filled(32, 2), filled(32, 3), 4}, 120},
      {"GroupMember", GroupMemberRecordV1{id_of<GroupMemberId>(1), id_of<GroupId>(2), PrincipalRefV1{id_of<UserId>(3)}, 4}, 124},
      {"GroupMemberDeleted",
       GroupMemberDeletedRecordV1{id_of<GroupMemberId>(1), id_of<GroupId>(2), PrincipalRefV1{id_of<GroupId>(3)}, 4}, 124},
      {"UserDeleted", UserDeletedRecordV1{id_of<UserId>(1), std::nullopt, 2}, 49},
      {"VaultHandle", VaultHandleRecordV1{id_of<VaultHandleId>(1), "prod", 2}, 52 + 4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encode(c.body).size(), c.size) << c.kind;
    // The envelope adds 108 bytes: body length, key and signature.
    EXPECT_EQ(encode(envelope(c.body)).size(), c.size + 108) << c.kind;
  }
}

TEST(ModelRecordsTest, UserDeletedAnnotationAbsentAndEmptyAreDifferentRecords) {
  const auto absent = encode(RecordBodyV1{UserDeletedRecordV1{id_of<UserId>(1), std::nullopt, 2}});
  const auto empty = encode(RecordBodyV1{UserDeletedRecordV1{id_of<UserId>(1), "", 2}});
  EXPECT_EQ(to_hex(absent), "0000000a" + id_hex(1) + "00" + u64_hex(2));
  EXPECT_EQ(to_hex(empty), "0000000a" + id_hex(1) + "0100000000" + u64_hex(2));
  EXPECT_NE(envelope(RecordBodyV1{UserDeletedRecordV1{id_of<UserId>(1), std::nullopt, 2}}),
            envelope(RecordBodyV1{UserDeletedRecordV1{id_of<UserId>(1), "", 2}}));
}

TEST(ModelRecordsTest, EveryKindDecodesToItselfAndEncodesBackByteForByte) {
  const auto bodies = one_body_of_each_kind();
  ASSERT_EQ(bodies.size(), std::variant_size_v<RecordBodyV1>);
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    ASSERT_EQ(bodies[i].index(), i);
    const auto bytes = encode(envelope(bodies[i]));
    // The body's variant index follows its 4-byte length prefix.
    EXPECT_EQ(cord::ByteView(bytes)[7], i);
    auto decoded = cord::deserialize<VaultRecordV1>(bytes);
    ASSERT_TRUE(decoded) << i << ": " << decoded.error().message();
    ASSERT_TRUE(decoded->body.known()) << i;
    EXPECT_EQ(*decoded->body.known(), bodies[i]) << i;
    EXPECT_EQ(encode(*decoded), bytes) << i;
  }
}

TEST(ModelRecordsTest, BodiesWithUnknownVariantsAreKeptWholeAndWrittenBack) {
  for (const auto& c : unknown_bodies()) {
    const auto bytes = hex(record_hex(c.payload));
    auto decoded = cord::deserialize<VaultRecordV1>(bytes);
    ASSERT_TRUE(decoded) << c.what << ": " << decoded.error().message();
    ASSERT_TRUE(decoded->body.unknown()) << c.what;
    EXPECT_EQ(decoded->body.unknown()->bytes, hex(c.payload)) << c.what;
    EXPECT_EQ(decoded->signing_public_key, filled(32, 0xee)) << c.what;
    EXPECT_EQ(encode(*decoded), bytes) << c.what;
    EXPECT_EQ(encode(decoded->body), encode(cord::Evolving<RecordBodyV1>(cord::UnknownPayload{hex(c.payload)})));
  }
}

// Every kind, bodies of kinds and nested variants this version does not
// know, and two records differing only in their signature.
VaultStore store_of_every_kind() {
  VaultStore store;
  for (const auto& body : one_body_of_each_kind()) vault_records(store).insert(envelope(body));
  for (const auto& c : unknown_bodies()) {
    vault_records(store).insert(envelope(cord::UnknownPayload{hex(c.payload)}));
  }
  vault_records(store).insert(
      VaultRecordV1{RecordBodyV1{GroupDeletedRecordV1{id_of<GroupId>(8), 5}}, filled(32, 0xee), filled(64, 0x56)});
  return store;
}

TEST(ModelRecordsTest, StoreOfEveryKindAndUnknownBodiesRoundTrips) {
  const VaultStore store = store_of_every_kind();
  const auto bytes = encode(store);
  EXPECT_EQ(to_hex(cord::ByteView(bytes).first(8)), "00000000000000" "17");  // index 0, 23 records
  auto decoded = cord::deserialize<VaultStore>(bytes);
  ASSERT_TRUE(decoded) << decoded.error().message();
  EXPECT_EQ(*decoded, store);
  EXPECT_EQ(encode(*decoded), bytes);
}

TEST(ModelRecordsTest, DecodedRecordsOfOneSignerShareItsKey) {
  VaultStore store;
  for (std::uint64_t counter = 1; counter <= 3; ++counter) {
    for (std::uint8_t signer : {0xa1, 0xb2}) {
      vault_records(store).insert(VaultRecordV1{RecordBodyV1{GroupDeletedRecordV1{id_of<GroupId>(signer), counter}},
                                                filled(32, signer), filled(64, 0x55)});
    }
  }
  const auto decoded = cord::deserialize<VaultStore>(encode(store)).value();
  ASSERT_EQ(decoded, store);
  std::map<cord::CompactBytes, const std::uint8_t*> held;
  for (const VaultRecordV1& record : vault_records(decoded)) {
    const auto [at, first] = held.emplace(record.signing_public_key, record.signing_public_key.data());
    EXPECT_EQ(record.signing_public_key.data(), at->second) << first;
  }
  EXPECT_EQ(held.size(), 2u);
}

TEST(ModelRecordsTest, EmptyStoreIsEightZeroBytes) {
  EXPECT_EQ(encode(VaultStore{}), cord::Bytes(8, 0));
  auto decoded = cord::deserialize<VaultStore>(cord::Bytes(8, 0));
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(vault_records(*decoded).empty());
}

TEST(ModelRecordsTest, StoreRecordsAreOrderedByEncodingSoShorterBodiesComeFirst) {
  VaultStore store;
  const auto longer = envelope(RecordBodyV1{UserRecordV1{id_of<UserId>(0), filled(32, 0), filled(32, 0), 0}});
  const auto shorter = envelope(RecordBodyV1{VaultHandleRecordV1{id_of<VaultHandleId>(0xff), "v", 0}});
  vault_records(store).insert(longer);
  vault_records(store).insert(shorter);
  EXPECT_EQ(encode(store), hex("00000000 00000002" + to_hex(encode(shorter)) + to_hex(encode(longer))));
}

struct StoreFailure {
  const char* what;
  std::string input;
  cord::CordError error;
};

TEST(ModelRecordsTest, StoreDecodingFailures) {
  const std::string group_deleted = record_hex("00000005" + id_hex(1) + u64_hex(5));
  const std::string vault_handle = record_hex("0000000d" + id_hex(1) + "00000001 76" + u64_hex(5));
  const std::string trailing_body = "00000031 00000005" + id_hex(1) + u64_hex(5) + "00" + "00000020" +
                                    to_hex(filled(32, 0xee)) + "00000040" + to_hex(filled(64, 0x55));
  const std::string bad_option = record_hex("0000000a" + id_hex(1) + "02" + u64_hex(2));
  const StoreFailure cases[] = {
      {"index 1", "00000001 00000000", cord::CordError::unknown_variant(1)},
      {"duplicate record", "00000000 00000002" + group_deleted + group_deleted,
       cord::CordError::custom_de(cord::CordError::of(cord::CordErrorKind::DuplicateSetElement))},
      {"records out of order", "00000000 00000002" + vault_handle + group_deleted,
       cord::CordError::custom_de(cord::CordError::of(cord::CordErrorKind::DuplicateSetElement))},
      {"trailing byte in body", "00000000 00000001" + trailing_body,
       cord::CordError::custom_de("trailing bytes in evolving payload")},
      {"invalid option byte", "00000000 00000001" + bad_option,
       cord::CordError::custom_de(cord::CordError::validation("Invalid option variant"))},
      {"truncated", "00000000 00000001 00000030 00000005", cord::CordError::eof(0)},
  };
  for (const auto& c : cases) {
    auto decoded = cord::deserialize<VaultStore>(hex(c.input));
    ASSERT_FALSE(decoded) << c.what;
    EXPECT_EQ(decoded.error().kind, c.error.kind) << c.what;
    EXPECT_EQ(decoded.error().message(), c.error.message()) << c.what;
  }
  EXPECT_EQ(cord::CordError::unknown_variant(1).message(), "Cord encountered unknown enum variant index 1");
  EXPECT_EQ(cord::CordError::custom_de("trailing bytes in evolving payload").message(),
            "Cord deserialization error: trailing bytes in evolving payload");
}

TEST(ModelRecordsTest, KeyAndSignatureOfAnyLengthAndAnyCounterDecode) {
  const auto body = "00000030 00000005" + id_hex(1) + "ffffffffffffffff";
  for (const std::string& tail : {std::string("0000001f") + to_hex(filled(31, 1)) + "00000000",
                                  std::string("00000000 00000041") + to_hex(filled(65, 2))}) {
    const auto bytes = hex(body + tail);
    auto decoded = cord::deserialize<VaultRecordV1>(bytes);
    ASSERT_TRUE(decoded) << decoded.error().message();
    EXPECT_EQ(body_counter(*decoded->body.known()), ~std::uint64_t{0});
    EXPECT_EQ(encode(*decoded), bytes);
  }
}

TEST(ModelRecordsTest, BodyCounterIsNoneOnlyForTheRoot) {
  const auto bodies = one_body_of_each_kind();
  EXPECT_EQ(body_counter(bodies[0]), std::nullopt);
  for (std::size_t i = 1; i < bodies.size(); ++i) EXPECT_TRUE(body_counter(bodies[i])) << i;
  EXPECT_EQ(body_counter(bodies[5]), 5u);
}

TEST(ModelRecordsTest, RecordKeyEncodings) {
  EXPECT_EQ(to_hex(encode(RecordKey{record_key::VaultRoot{}})), "00000000");
  EXPECT_EQ(to_hex(encode(RecordKey{record_key::Grant{id_of<GrantId>(3)}})), "00000006" + id_hex(3));
  EXPECT_EQ(to_hex(encode(RecordKey{record_key::Secret{id_of<SecretId>(3)}})), "00000007" + id_hex(3));
}

TEST(ModelRecordsTest, RecordKeysOrderByVariantThenIdentifierBytes) {
  auto user = [](std::string_view h) { return RecordKey{record_key::User{UserId{HashValue{hex(h)}}}}; };
  const std::vector<RecordKey> ascending = {
      record_key::VaultRoot{},
      record_key::EntryPoint{UserId{HashValue{hex("ff ff")}}},
      user("01"),
      user("01 00"),
      user("02"),
      record_key::UserHandle{UserHandleId{HashValue{hex("00")}}},
      record_key::Group{GroupId{}},
      record_key::GroupMember{GroupMemberId{}},
      record_key::Grant{GrantId{}},
      record_key::Secret{SecretId{}},
      record_key::Secret{SecretId{HashValue{hex("00")}}},
      record_key::VaultHandle{VaultHandleId{}},
  };
  for (std::size_t i = 0; i + 1 < ascending.size(); ++i) {
    EXPECT_LT(ascending[i], ascending[i + 1]) << debug_string(ascending[i]);
    EXPECT_FALSE(ascending[i + 1] < ascending[i]);
  }
  EXPECT_EQ(user("01"), user("01"));
  EXPECT_NE(RecordKey{record_key::EntryPoint{id_of<UserId>(1)}}, RecordKey{record_key::User{id_of<UserId>(1)}});
}

TEST(ModelRecordsTest, RecordKeyForEveryKind) {
  const UserId signer = id_of<UserId>(0x99);
  const auto bodies = one_body_of_each_kind();
  const RecordKey expected[] = {
      record_key::VaultRoot{},
      record_key::EntryPoint{signer},  // the signer, not the root the body names
      record_key::User{id_of<UserId>(4)},
      record_key::UserHandle{id_of<UserHandleId>(7)},
      record_key::Group{id_of<GroupId>(8)},
      record_key::Group{id_of<GroupId>(8)},
      record_key::GroupMember{id_of<GroupMemberId>(10)},
      record_key::GroupMember{id_of<GroupMemberId>(10)},
      record_key::Grant{id_of<GrantId>(12)},
      record_key::Grant{id_of<GrantId>(12)},
      record_key::User{id_of<UserId>(4)},
      record_key::Secret{id_of<SecretId>(14)},
      record_key::Secret{id_of<SecretId>(14)},
      record_key::VaultHandle{id_of<VaultHandleId>(19)},
  };
  ASSERT_EQ(std::size(expected), bodies.size());
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    EXPECT_EQ(record_key_for(bodies[i], signer), expected[i]) << i << ": " << debug_string(record_key_for(bodies[i], signer));
  }
  // The root's own entry point is keyed by the root as signer.
  EXPECT_EQ(record_key_for(bodies[1], id_of<UserId>(1)), RecordKey{record_key::EntryPoint{id_of<UserId>(1)}});
}

TEST(ModelRecordsTest, RecordKeyDebugForm) {
  EXPECT_EQ(debug_string(RecordKey{record_key::VaultRoot{}}), "VaultRoot");
  EXPECT_EQ(debug_string(RecordKey{record_key::Secret{SecretId{HashValue{hex("01 02")}}}}),
            "Secret { secret_id: SecretId(HashValue([1, 2])) }");
  EXPECT_EQ(debug_string(RecordKey{record_key::GroupMember{GroupMemberId{HashValue{}}}}),
            "GroupMember { group_member_id: GroupMemberId(HashValue([])) }");
}

template <class Result>
std::string error_of(const Result& result) {
  return result ? "" : result.error().message();
}

// The readers that check a vault file without keeping its records, or keep
// only its roots, accept exactly the files the full decoder accepts and
// refuse the others with its error: shown on every truncation of a file of
// every record kind, and on every byte of it changed.
TEST(ModelRecordsTest, ReadersKeepingLessAgreeWithTheDecoderOnEveryCorruption) {
  const std::string magic(validate::kVaultMagic);
  cord::Bytes file(magic.begin(), magic.end());
  const auto payload = encode(store_of_every_kind());
  file.insert(file.end(), payload.begin(), payload.end());

  std::size_t accepted = 0;
  for (const auto& input : morvik::testing::corruptions_of(file)) {
    const auto decoded = validate::decode_vault(input);
    const auto roots = validate::decode_vault_roots(input);
    ASSERT_EQ(error_of(validate::check_vault_file(input)), error_of(decoded)) << to_hex(input);
    ASSERT_EQ(error_of(roots), error_of(decoded)) << to_hex(input);
    if (!decoded) continue;
    ++accepted;
    VaultStore expected;
    for (const auto& record : vault_records(*decoded)) {
      const auto* body = record.body.known();
      if (body != nullptr && std::holds_alternative<VaultRootRecordV1>(*body)) vault_records(expected).insert(record);
    }
    ASSERT_EQ(*roots, expected) << to_hex(input);
  }
  // Changes that leave a valid file (in identifiers, keys, counters) are
  // among them too.
  EXPECT_GT(accepted, file.size() / 2);
}

}  // namespace
}  // namespace morvik::core
