#include <gtest/gtest.h>

#include "core/ratchet/ratchet.hpp"

namespace morvik::core::ratchet {
namespace {

HashValue hash_of(std::uint8_t byte) { return HashValue{cord::Bytes(32, byte)}; }
UserId user(std::uint8_t byte) { return UserId{hash_of(byte)}; }
RecordKey user_key(std::uint8_t byte) { return record_key::User{user(byte)}; }
RecordKey handle_key(std::uint8_t byte) { return record_key::UserHandle{UserHandleId{hash_of(byte)}}; }
RecordKey secret_key(std::uint8_t byte) { return record_key::Secret{SecretId{hash_of(byte)}}; }

TEST(RatchetTest, ANewRatchetWritesOnlyItsTrustedRoot) {
  Ratchet ratchet(hash_of(9));
  EXPECT_EQ(ratchet.to_records(), std::vector<RatchetRecordV1>{TrustedRootRatchetRecordV1{hash_of(9)}});
}

TEST(RatchetTest, RecordsComeGroupedByKindThenFormatVersionThenRoot) {
  Ratchet ratchet(hash_of(9));
  ratchet.watermarks.emplace(user_key(1), 3);
  ratchet.watermarks.emplace(record_key::EntryPoint{user(7)}, 2);
  ratchet.watermarks.emplace(record_key::VaultRoot{}, 5);  // never written
  ratchet.format_version = 1;
  EXPECT_EQ(ratchet.to_records(), (std::vector<RatchetRecordV1>{
                                      EntryPointRatchetRecordV1{user(7), 2},
                                      UserRatchetRecordV1{user(1), 3},
                                      ratchet_record::FormatVersion{1},
                                      TrustedRootRatchetRecordV1{hash_of(9)},
                                  }));
}

TEST(RatchetTest, AbsorbingKeepsTheHighestCounterAndTheFirstOrigin) {
  Ratchet ratchet(hash_of(9));
  ratchet.absorb_record(UserRatchetRecordV1{user(1), 7});
  ratchet.absorb_record(UserRatchetRecordV1{user(1), 4});
  ratchet.absorb_record(UserHandleRatchetRecordV1{UserHandleId{hash_of(2)}, 1, ""});
  ratchet.absorb_record(UserHandleRatchetRecordV1{UserHandleId{hash_of(2)}, 1, "ops"});
  ratchet.absorb_record(UserHandleRatchetRecordV1{UserHandleId{hash_of(2)}, 1, "dev"});
  ratchet.absorb_record(ratchet_record::FormatVersion{3});
  ratchet.absorb_record(ratchet_record::FormatVersion{2});
  ratchet.absorb_record(TrustedRootRatchetRecordV1{hash_of(4)});
  ratchet.absorb_record(GroupRatchetRecordV1{GroupId{hash_of(5)}, 0});

  EXPECT_EQ(ratchet.trusted_root, hash_of(9));
  EXPECT_EQ(ratchet.watermarks.at(user_key(1)), 7u);
  EXPECT_EQ(ratchet.watermarks.at(RecordKey(record_key::Group{GroupId{hash_of(5)}})), 0u);
  EXPECT_EQ(ratchet.origins.at(handle_key(2)), KeyOrigin(key_origin::UserHandle{"ops"}));
  EXPECT_EQ(ratchet.format_version, 3u);
}

// Records of a file come grouped by kind, which is not key order; a baseline
// or a merge may repeat keys and add them between held ones.
TEST(RatchetTest, AbsorbingManyRecordsAtOnceMatchesAbsorbingThemOneByOne) {
  const std::vector<RatchetRecordV1> records{
      SecretRatchetRecordV1{SecretId{hash_of(6)}, 2, SecretSelectorV1{{"app", "b"}, {}}},
      UserRatchetRecordV1{user(3), 1},
      EntryPointRatchetRecordV1{user(3), 4},
      SecretRatchetRecordV1{SecretId{hash_of(2)}, 9, SecretSelectorV1{{"app", "a"}, {}}},
      UserHandleRatchetRecordV1{UserHandleId{hash_of(5)}, 3, "ops"},
      SecretRatchetRecordV1{SecretId{hash_of(6)}, 7, SecretSelectorV1{{"app", "later"}, {}}},
      UserRatchetRecordV1{user(1), 8},
      ratchet_record::FormatVersion{1},
      UserRatchetRecordV1{user(3), 5},
      SecretRatchetRecordV1{SecretId{hash_of(2)}, 4, SecretSelectorV1{{"app", "a2"}, {}}},
      TrustedRootRatchetRecordV1{hash_of(4)},
  };
  const auto held = [] {
    Ratchet ratchet(hash_of(9));
    ratchet.watermarks.emplace(user_key(2), 6);
    ratchet.watermarks.emplace(secret_key(6), 5);
    ratchet.origins.emplace(secret_key(6), SecretSelectorV1{{"app", "held"}, {}});
    return ratchet;
  };
  for (Ratchet start : {Ratchet(hash_of(9)), held()}) {
    std::map<RecordKey, std::uint64_t> watermarks(start.watermarks.begin(), start.watermarks.end());
    std::map<RecordKey, KeyOrigin> origins(start.origins.begin(), start.origins.end());
    for (const auto& record : records) {
      const auto key = ratchet_record_key(record);
      if (!key) continue;
      const std::uint64_t counter = std::visit(
          [](const auto& r) -> std::uint64_t {
            if constexpr (requires { r.counter; }) {
              return r.counter;
            } else {
              return 0;
            }
          },
          record);
      auto [at, added] = watermarks.try_emplace(*key, counter);
      if (!added) at->second = std::max(at->second, counter);
      if (auto origin = ratchet_record_origin(record)) origins.try_emplace(*key, *origin);
    }

    Ratchet at_once = start;
    at_once.absorb_records(records);
    Ratchet one_by_one = start;
    for (const auto& record : records) one_by_one.absorb_record(record);
    for (const Ratchet* ratchet : {&at_once, &one_by_one}) {
      EXPECT_EQ(ratchet->watermarks, watermarks);
      EXPECT_EQ(ratchet->origins, origins);
      EXPECT_TRUE(std::ranges::is_sorted(ratchet->watermarks, {}, [](const auto& entry) { return entry.first; }));
      EXPECT_EQ(ratchet->format_version, 1u);
      EXPECT_EQ(ratchet->trusted_root, hash_of(9));
    }
  }
}

TEST(RatchetTest, UpdatesOnlyRaiseAndNeverReplaceAnOrigin) {
  Ratchet ratchet(hash_of(9));
  ratchet.watermarks.emplace(user_key(1), 7);
  ratchet.origins.emplace(handle_key(2), key_origin::UserHandle{"ops"});
  ratchet.unknown.push_back(UnknownRatchetRecord{{0, 0, 0, 10}});
  const Ratchet before = ratchet;

  RatchetUpdate update;
  update.watermarks.emplace(user_key(1), 5);
  update.watermarks.emplace(user_key(3), 0);
  update.origins.emplace(handle_key(2), key_origin::UserHandle{"dev"});
  update.origins.emplace(secret_key(4), SecretSelectorV1{{"app"}, {}});
  Ratchet copy = ratchet;
  copy.apply_update(update);

  EXPECT_EQ(copy.watermarks.at(user_key(1)), 7u);
  EXPECT_EQ(copy.watermarks.at(user_key(3)), 0u);
  EXPECT_EQ(copy.origins.at(handle_key(2)), KeyOrigin(key_origin::UserHandle{"ops"}));
  EXPECT_EQ(copy.origins.at(secret_key(4)), KeyOrigin(SecretSelectorV1{{"app"}, {}}));
  EXPECT_EQ(copy.format_version, 0u);
  EXPECT_EQ(copy.unknown, before.unknown);
  EXPECT_EQ(ratchet, before);  // the copy shares nothing

  update.format_version = 1;
  copy.apply_update(update);
  EXPECT_EQ(copy.format_version, 1u);
}

TEST(RatchetTest, WritingAndReadingBackKeepsWhatCanBeWritten) {
  Ratchet ratchet(hash_of(9));
  ratchet.watermarks.emplace(handle_key(2), 4);
  ratchet.origins.emplace(handle_key(2), key_origin::UserHandle{"ops"});
  ratchet.watermarks.emplace(secret_key(3), 6);
  // A selector without segments marks "no origin" once written.
  ratchet.origins.emplace(secret_key(3), SecretSelectorV1{{}, {SecretLabelV1{"env", "prod"}}});
  ratchet.origins.emplace(secret_key(8), SecretSelectorV1{{"orphan"}, {}});  // no watermark: not written
  ratchet.format_version = 1;

  Ratchet read(ratchet.trusted_root);
  for (const auto& record : ratchet.to_records()) read.absorb_record(record);

  EXPECT_EQ(read.watermarks, ratchet.watermarks);
  EXPECT_EQ(read.format_version, 1u);
  EXPECT_EQ(read.origins, (std::map<RecordKey, KeyOrigin>{{handle_key(2), key_origin::UserHandle{"ops"}}}));
}

}  // namespace
}  // namespace morvik::core::ratchet
