// The effective state's secret queries, on states put together by hand so
// that the order of the verified records is the test's to choose.

#include <gtest/gtest.h>

#include <limits>

#include "core/validate/effective.hpp"
#include "core/validate/state.hpp"
#include "support/core/selectors.hpp"

namespace morvik::core::validate {
namespace {

using testing::secret;

HashValue bytes_of(std::uint8_t byte) { return HashValue{cord::Bytes(32, byte)}; }

const UserId kRoot{bytes_of(0xA0)};
const UserId kReader{bytes_of(0xB0)};

VerifiedRecord verified(RecordBodyV1 body, std::uint8_t hash) {
  VaultRecordV1 envelope{std::move(body), cord::Bytes(32, 1), cord::Bytes(64, hash)};
  return VerifiedRecord::of(envelope, record_key_for(*envelope.body.known(), kRoot), bytes_of(hash), kRoot);
}

// The id only has to be consistent within the test: no derivation is checked here.
SecretId id_of(const SecretSelectorV1& selector) {
  return SecretId{HashValue{cord::Bytes(selector.tuple.front().begin(), selector.tuple.front().end())}};
}

VerifiedRecord value(const SecretSelectorV1& selector, std::uint64_t counter, std::uint8_t hash) {
  return verified(SecretRecordV1{id_of(selector), selector, SealedPayloadV1{{}, {}, {RecipientSlotV1{kReader, {}, {}}}},
                                 counter},
                  hash);
}

VerifiedRecord deletion(const SecretSelectorV1& selector, std::uint64_t counter, std::uint8_t hash) {
  return verified(SecretDeletedRecordV1{id_of(selector), selector, counter}, hash);
}

EffectiveState root_only_state() {
  EffectiveState state;
  state.root_user_id = kRoot;
  state.users.emplace(kRoot, UserRecordV1{kRoot, {}, {}, 0});
  state.authorities = root_authorities(kRoot);
  state.did_not_converge = false;
  return state;
}

TEST(PipelineQueriesTest, LiveSecretsAreListedInTheOrderOfTheirFirstRecords) {
  const auto a = secret({"a"});
  const auto b = secret({"b"});
  const auto c = secret({"c"});
  auto state = root_only_state();
  state.attach_verified_records({value(b, 1, 1), value(a, 1, 2), value(a, 3, 3), value(c, 1, 4), deletion(c, 2, 5)},
                                41);

  const auto listed = state.secret_records();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].secret.selector, b);
  EXPECT_EQ(listed[1].secret.selector, a);
  EXPECT_EQ(listed[1].secret.counter, 3u);
  EXPECT_TRUE(state.secret_record_is_current(bytes_of(3)));
  EXPECT_FALSE(state.secret_record_is_current(bytes_of(2)));
  EXPECT_TRUE(state.secret_record_is_current(bytes_of(5)));  // a deletion can be current too
  EXPECT_EQ(state.latest_authorized_secret_record(id_of(c))->hash, bytes_of(5));
  EXPECT_EQ(next_counter(state), 42u);
  // The reader holds a slot but is no user of this state.
  EXPECT_EQ(state.current_reader_entries(a), std::vector<UserId>{kRoot});
}

TEST(PipelineQueriesTest, CountersSaturateAndOnlyRollbacksRaiseTheFloor) {
  auto state = root_only_state();
  EXPECT_EQ(next_counter(state), 0u);
  EXPECT_EQ(state.rollback_counter_floor(), 0u);

  state.attach_verified_records({}, std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(next_counter(state), std::numeric_limits<std::uint64_t>::max());

  auto report = [](std::optional<std::uint64_t> remembered, std::uint8_t id) {
    const RecordKey key = record_key::Secret{SecretId{bytes_of(id)}};
    return std::pair{key, merge::ConflictReport{remembered, std::nullopt, key, {}, 3}};
  };
  state.conflicts.insert(report(7, 1));
  state.conflicts.insert(report(12, 2));
  state.conflicts.insert(report(std::nullopt, 3));
  EXPECT_EQ(state.rollback_counter_floor(), 13u);
}

}  // namespace
}  // namespace morvik::core::validate
