// The grouping behind every last-writer-wins step: per key, in key order,
// the records at the key's highest counter, in the order they were offered.

#include <gtest/gtest.h>

#include "core/merge/conflicts.hpp"
#include "support/core/selectors.hpp"

namespace morvik::core::merge {
namespace {

using validate::VerifiedRecord;

const UserId kSigner{HashValue{cord::Bytes(32, 0xA0)}};

VerifiedRecord top_counter_record(std::uint8_t id, std::uint64_t counter, std::uint8_t hash) {
  const auto selector = testing::secret({"app", std::string(1, static_cast<char>('a' + id))});
  const SecretId secret_id{HashValue{cord::Bytes(32, id)}};
  VaultRecordV1 envelope{RecordBodyV1{SecretDeletedRecordV1{secret_id, selector, counter}},
                         cord::Bytes(32, 1), cord::Bytes(64, hash)};
  return VerifiedRecord::of(envelope, record_key_for(*envelope.body.known(), kSigner),
                            HashValue{cord::Bytes(32, hash)}, kSigner);
}

struct Group {
  std::uint8_t id;
  std::vector<std::uint8_t> hashes;
  bool operator==(const Group&) const = default;
};

std::vector<Group> groups_of(const std::vector<VerifiedRecord>& records, const std::vector<std::size_t>& offers) {
  TopCounterGroups top;
  for (auto i : offers) top.offer(records[i]);
  std::vector<Group> groups;
  top.for_each([&](const RecordKey& key, const std::vector<const VerifiedRecord*>& tied) {
    Group group{std::get<record_key::Secret>(key).secret_id.hash.bytes.front(), {}};
    for (const auto* record : tied) {
      EXPECT_EQ(record->key, key);
      group.hashes.push_back(record->hash.bytes.front());
    }
    groups.push_back(std::move(group));
  });
  return groups;
}

TEST(TopCounterGroupsTest, KeepsTheTopCounterOfEachKeyInOfferOrder) {
  const std::vector<VerifiedRecord> records{
      top_counter_record(3, 5, 10), top_counter_record(1, 2, 11), top_counter_record(3, 7, 12),
      top_counter_record(1, 2, 13), top_counter_record(3, 7, 14), top_counter_record(2, 1, 15),
      top_counter_record(3, 6, 16), top_counter_record(1, 1, 17), top_counter_record(3, 7, 18),
  };
  struct Case {
    const char* name;
    std::vector<std::size_t> offers;
    std::vector<Group> expected;
  };
  const Case cases[] = {
      {"nothing offered", {}, {}},
      {"one record", {5}, {{2, {15}}}},
      {"all, keys interleaved", {0, 1, 2, 3, 4, 5, 6, 7, 8}, {{1, {11, 13}}, {2, {15}}, {3, {12, 14, 18}}}},
      {"offer order kept within a key", {8, 3, 4, 1, 2}, {{1, {13, 11}}, {3, {18, 14, 12}}}},
      {"a lower counter after the top adds nothing", {2, 0, 6}, {{3, {12}}}},
      {"a higher counter drops the earlier ties", {0, 6, 2}, {{3, {12}}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(groups_of(records, c.offers), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace morvik::core::merge
