#include <gtest/gtest.h>

#include "core/invitations.hpp"
#include "core/ratchet_records.hpp"
#include "model_fixtures.hpp"

namespace morvik::core {
namespace {

using namespace model_test;

const GroupMemberIdInputV1 kMemberInput{id_of<GroupId>(3), PrincipalRefV1{id_of<UserId>(4)}};
const SecretSelectorV1 kSelector{{"app", "db"}, {{"env", "prod"}}};

struct WorkedCase {
  const char* what;
  RatchetRecordV1 record;
  std::string expected;
  std::size_t size;
};

TEST(ModelRatchetRecordsTest, WorkedEncodings) {
  const WorkedCase cases[] = {
      {"User", UserRatchetRecordV1{id_of<UserId>(1), 5}, "00000000" + id_hex(1) + "0000000000000005", 48},
      {"UserHandle", UserHandleRatchetRecordV1{id_of<UserHandleId>(1), 7, ""}, "00000001" + id_hex(1) + u64_hex(7) + "00000000", 52},
      {"GroupMember", GroupMemberRatchetRecordV1{id_of<GroupMemberId>(1), 7, std::nullopt},
       "00000004" + id_hex(1) + u64_hex(7) + "00", 49},
      {"Secret", SecretRatchetRecordV1{id_of<SecretId>(1), 7, {}}, "00000006" + id_hex(1) + u64_hex(7) + "00000000 00000000", 56},
      {"FormatVersion", ratchet_record::FormatVersion{1}, "00000008 0000000000000001", 12},
      {"TrustedRoot", TrustedRootRatchetRecordV1{HashValue{filled(32, 1)}}, "00000009" + id_hex(1), 40},
      {"GroupMember with origin", GroupMemberRatchetRecordV1{id_of<GroupMemberId>(1), 7, kMemberInput},
       "00000004" + id_hex(1) + u64_hex(7) + "01" + id_hex(3) + "00000000" + id_hex(4), 49 + 76},
      {"VaultHandle", VaultHandleRatchetRecordV1{id_of<VaultHandleId>(1), 7, "prod"},
       "00000002" + id_hex(1) + u64_hex(7) + "00000004 70726f64", 56},
  };
  for (const auto& c : cases) {
    auto bytes = cord::serialize(c.record);
    ASSERT_TRUE(bytes) << c.what;
    EXPECT_EQ(bytes->size(), c.size) << c.what;
    EXPECT_EQ(to_hex(*bytes), to_hex(hex(c.expected))) << c.what;
    EXPECT_EQ(cord::deserialize<RatchetRecordV1>(*bytes), c.record) << c.what;
  }
}

TEST(ModelRatchetRecordsTest, HandlesAreStoredComposedAndReadOnlyInNfc) {
  const RatchetRecordV1 decomposed = UserHandleRatchetRecordV1{id_of<UserHandleId>(1), 1, "e\u0301"};
  const RatchetRecordV1 composed = UserHandleRatchetRecordV1{id_of<UserHandleId>(1), 1, "\u00e9"};
  EXPECT_EQ(cord::serialize(decomposed), cord::serialize(composed));
  auto not_nfc = cord::deserialize<RatchetRecordV1>(hex("00000001" + id_hex(1) + u64_hex(1) + "00000003 65cc81"));
  ASSERT_FALSE(not_nfc);
  EXPECT_EQ(not_nfc.error().kind, cord::CordErrorKind::NotNfc);
}

// Every slot kind with the origin it can carry (none for the kinds that have none).
struct SlotCase {
  RecordKey key;
  std::optional<KeyOrigin> origin;
  RatchetRecordV1 record;  // for counter 9 and that origin
};

std::vector<SlotCase> slot_cases() {
  return {
      {record_key::EntryPoint{id_of<UserId>(1)}, std::nullopt, EntryPointRatchetRecordV1{id_of<UserId>(1), 9}},
      {record_key::User{id_of<UserId>(1)}, std::nullopt, UserRatchetRecordV1{id_of<UserId>(1), 9}},
      {record_key::UserHandle{id_of<UserHandleId>(2)}, key_origin::UserHandle{"alice"},
       UserHandleRatchetRecordV1{id_of<UserHandleId>(2), 9, "alice"}},
      {record_key::Group{id_of<GroupId>(3)}, std::nullopt, GroupRatchetRecordV1{id_of<GroupId>(3), 9}},
      {record_key::GroupMember{id_of<GroupMemberId>(4)}, KeyOrigin{kMemberInput},
       GroupMemberRatchetRecordV1{id_of<GroupMemberId>(4), 9, kMemberInput}},
      {record_key::Grant{id_of<GrantId>(5)}, std::nullopt, GrantRatchetRecordV1{id_of<GrantId>(5), 9}},
      {record_key::Secret{id_of<SecretId>(6)}, KeyOrigin{kSelector}, SecretRatchetRecordV1{id_of<SecretId>(6), 9, kSelector}},
      {record_key::VaultHandle{id_of<VaultHandleId>(7)}, key_origin::VaultHandle{"prod"},
       VaultHandleRatchetRecordV1{id_of<VaultHandleId>(7), 9, "prod"}},
  };
}

TEST(ModelRatchetRecordsTest, ForKeyKeyAndOriginAgreeForEverySlot) {
  for (const auto& c : slot_cases()) {
    const auto made = ratchet_record_for_key(c.key, 9, c.origin ? &*c.origin : nullptr);
    ASSERT_TRUE(made) << debug_string(c.key);
    EXPECT_EQ(*made, c.record) << debug_string(c.key);
    EXPECT_EQ(ratchet_record_key(*made), c.key) << debug_string(c.key);
    EXPECT_EQ(ratchet_record_origin(*made), c.origin) << debug_string(c.key);
  }
}

TEST(ModelRatchetRecordsTest, ForKeyIgnoresAnOriginOfAnotherKind) {
  const KeyOrigin others[] = {KeyOrigin{kSelector}, key_origin::UserHandle{"alice"}, key_origin::VaultHandle{"prod"},
                              KeyOrigin{kMemberInput}};
  for (const auto& c : slot_cases()) {
    const auto bare = ratchet_record_for_key(c.key, 9, nullptr);
    for (const auto& other : others) {
      if (c.origin && other.index() == c.origin->index()) continue;
      EXPECT_EQ(ratchet_record_for_key(c.key, 9, &other), bare) << debug_string(c.key) << " " << other.index();
    }
    EXPECT_EQ(ratchet_record_origin(*bare), std::nullopt) << debug_string(c.key);
  }
}

TEST(ModelRatchetRecordsTest, SecretWithoutOriginEndsInEightZeroBytes) {
  const auto record = ratchet_record_for_key(record_key::Secret{id_of<SecretId>(1)}, 3, nullptr);
  ASSERT_TRUE(record);
  EXPECT_EQ(std::get<SecretRatchetRecordV1>(*record).selector, SecretSelectorV1{});
  const auto bytes = *cord::serialize(*record);
  EXPECT_EQ(to_hex(cord::ByteView(bytes).last(8)), "0000000000000000");
}

TEST(ModelRatchetRecordsTest, EmptyMarkersMeanNoOrigin) {
  const RatchetRecordV1 labels_only = SecretRatchetRecordV1{id_of<SecretId>(1), 3, SecretSelectorV1{{}, {{"env", "prod"}}}};
  EXPECT_EQ(ratchet_record_origin(labels_only), std::nullopt);
  EXPECT_EQ(ratchet_record_key(labels_only), RecordKey{record_key::Secret{id_of<SecretId>(1)}});
  EXPECT_EQ(ratchet_record_origin(UserHandleRatchetRecordV1{id_of<UserHandleId>(1), 3, ""}), std::nullopt);
  EXPECT_EQ(ratchet_record_origin(VaultHandleRatchetRecordV1{id_of<VaultHandleId>(1), 3, ""}), std::nullopt);
  const KeyOrigin empty_handle = key_origin::UserHandle{""};
  EXPECT_EQ(ratchet_record_origin(*ratchet_record_for_key(record_key::UserHandle{id_of<UserHandleId>(1)}, 3, &empty_handle)),
            std::nullopt);
}

TEST(ModelRatchetRecordsTest, RootVersionAndTrustedRootHaveNoSlot) {
  const KeyOrigin origin{kSelector};
  EXPECT_EQ(ratchet_record_for_key(record_key::VaultRoot{}, 1, nullptr), std::nullopt);
  EXPECT_EQ(ratchet_record_for_key(record_key::VaultRoot{}, 1, &origin), std::nullopt);
  for (const RatchetRecordV1& record :
       {RatchetRecordV1{ratchet_record::FormatVersion{1}}, RatchetRecordV1{TrustedRootRatchetRecordV1{HashValue{filled(32, 1)}}}}) {
    EXPECT_EQ(ratchet_record_key(record), std::nullopt);
    EXPECT_EQ(ratchet_record_origin(record), std::nullopt);
  }
}

TEST(ModelRatchetRecordsTest, StoredRecordsOfUnknownVariantsAreKeptAsBytes) {
  const std::string payloads[] = {
      "0000000a 0102",
      "00000004" + id_hex(1) + u64_hex(1) + "01" + id_hex(3) + "00000002" + id_hex(4),
  };
  for (const auto& payload : payloads) {
    // As the ratchet file holds them: a 4-byte length, then the record.
    cord::Bytes stored = hex("000000" + to_hex(cord::Bytes{static_cast<std::uint8_t>(hex(payload).size())}) + payload);
    auto decoded = cord::deserialize<cord::Evolving<RatchetRecordV1>>(stored);
    ASSERT_TRUE(decoded) << payload;
    ASSERT_TRUE(decoded->unknown()) << payload;
    EXPECT_EQ(cord::serialize(*decoded), stored);
  }
}

TEST(ModelRatchetRecordsTest, RatchetRecordDecodingFailures) {
  struct FailureCase {
    const char* what;
    std::string input;
    cord::CordError error;
  };
  const FailureCase cases[] = {
      {"index 10", "0000000a", cord::CordError::unknown_variant(10)},
      {"member index 2", "00000004" + id_hex(1) + u64_hex(1) + "01" + id_hex(3) + "00000002" + id_hex(4),
       cord::CordError::unknown_variant(2)},
      {"option byte 2", "00000004" + id_hex(1) + u64_hex(1) + "02", cord::CordError::validation("Invalid option variant")},
      {"truncated counter", "00000000" + id_hex(1) + "0000", cord::CordError::eof(0)},
  };
  for (const auto& c : cases) {
    auto decoded = cord::deserialize<RatchetRecordV1>(hex(c.input));
    ASSERT_FALSE(decoded) << c.what;
    EXPECT_EQ(decoded.error().message(), c.error.message()) << c.what;
  }
}

std::string baseline_hex(std::initializer_list<std::string> records) {
  std::string out = "0000000" + std::to_string(records.size());
  for (const auto& r : records) out += r;
  return out;
}

// The master seed an invitation carries is held in wiping buffers from the
// moment it is decoded.
static_assert(std::is_same_v<decltype(InviteV1::master_seed), SecretBytes>);
static_assert(std::is_same_v<decltype(InviteV2::master_seed), SecretBytes>);
static_assert(std::is_same_v<decltype(InvitationMaterial::master_seed), SecretBytes>);

TEST(ModelInvitationsTest, DecodesBothVersionsIntoMaterial) {
  const std::string seed = "00000020" + to_hex(filled(32, 0x5e));
  const std::string root = id_hex(0x70);
  const std::string user = "00000000" + id_hex(1) + u64_hex(5);
  const std::string version = "00000008" + u64_hex(1);
  const std::vector<RatchetRecordV1> records = {UserRatchetRecordV1{id_of<UserId>(1), 5}, ratchet_record::FormatVersion{1}};

  struct InviteCase {
    const char* what;
    std::string input;
    std::optional<std::vector<RatchetRecordV1>> baseline;
  };
  const InviteCase cases[] = {
      {"V1", "00000000" + seed + root + baseline_hex({user, version}), records},
      {"V1, empty baseline", "00000000" + seed + root + baseline_hex({}), std::vector<RatchetRecordV1>{}},
      {"V2 with baseline", "00000001" + seed + root + "01" + baseline_hex({user, version}), records},
      {"V2 without baseline", "00000001" + seed + root + "00", std::nullopt},
  };
  for (const auto& c : cases) {
    auto invite = cord::deserialize<Invite>(hex(c.input));
    ASSERT_TRUE(invite) << c.what << ": " << invite.error().message();
    const auto material = InvitationMaterial::from_invite(std::move(*invite));
    EXPECT_EQ(cord::Bytes(material.master_seed.begin(), material.master_seed.end()), filled(32, 0x5e)) << c.what;
    EXPECT_EQ(material.trusted_root, HashValue{filled(32, 0x70)}) << c.what;
    EXPECT_EQ(material.baseline, c.baseline) << c.what;
  }
}

TEST(ModelInvitationsTest, DecodingChecksOnlyTheEncoding) {
  // A 31-byte seed and repeated records decode; identity derivation refuses the seed later.
  const std::string user = "00000000" + id_hex(1) + u64_hex(5);
  auto invite = cord::deserialize<Invite>(hex("00000000 0000001f" + to_hex(filled(31, 1)) + id_hex(2) + baseline_hex({user, user})));
  ASSERT_TRUE(invite) << invite.error().message();
  EXPECT_EQ(std::get<InviteV1>(*invite).master_seed.size(), 31u);
  EXPECT_EQ(std::get<InviteV1>(*invite).baseline.records.size(), 2u);
}

TEST(ModelInvitationsTest, DecodingFailures) {
  const std::string head = "00000020" + to_hex(filled(32, 1)) + id_hex(2);
  struct FailureCase {
    const char* what;
    std::string input;
    cord::CordError error;
  };
  const FailureCase cases[] = {
      {"index 2", "00000002" + head, cord::CordError::unknown_variant(2)},
      {"baseline record index 10", "00000000" + head + baseline_hex({"0000000a"}), cord::CordError::unknown_variant(10)},
      {"baseline member index 2",
       "00000000" + head + baseline_hex({"00000004" + id_hex(1) + u64_hex(1) + "01" + id_hex(3) + "00000002" + id_hex(4)}),
       cord::CordError::unknown_variant(2)},
      {"option byte 2", "00000001" + head + "02", cord::CordError::validation("Invalid option variant")},
      {"trailing byte", "00000001" + head + "00 00", cord::CordError::of(cord::CordErrorKind::TrailingBytes)},
      {"truncated", "00000000" + head, cord::CordError::eof(0)},
  };
  for (const auto& c : cases) {
    auto decoded = cord::deserialize<Invite>(hex(c.input));
    ASSERT_FALSE(decoded) << c.what;
    EXPECT_EQ(decoded.error().message(), c.error.message()) << c.what;
  }
}

}  // namespace
}  // namespace morvik::core
