// Anyone who can change the vault file chooses what every reader decodes
// before a single signature is checked. Whatever the file holds, decoding it
// takes at most four times its size plus a fixed amount per record.

#include <gtest/gtest.h>

#include <functional>

#include "core/vault_file/vault_file.hpp"
#include "support/core/allocation_probe.hpp"
#include "support/core/sample_vaults.hpp"
#include "support/core/selectors.hpp"
#include "support/core/vault_factory.hpp"

namespace morvik::testing {
namespace {

constexpr std::size_t kElements = 100'000;
constexpr std::size_t kBytesPerRecord = 512;

core::RecordBodyV1 secret_with(core::SecretSelectorV1 selector, core::SealedPayloadV1 payload = {}) {
  return secret_body(selector, payload, 1);
}

core::RecordBodyV1 grant_with(core::GrantPermissionV1 permission) {
  return grant_body(id_seed(1), user_ref(identity(2)), permission, 1);
}

core::KeyspaceLabelMatcherV1 matcher(core::LabelMatcherV1 kind) { return {"", std::move(kind)}; }

struct WorstCase {
  const char* name;
  std::function<TestVault()> vault;
};

TestVault one_record(core::RecordBodyV1 body) {
  TestVault vault;
  vault.add(vault.root(), std::move(body));
  return vault;
}

const WorstCase kWorstCases[] = {
    {"empty path segments", [] { return one_record(secret_with(core::SecretSelectorV1{Segments(kElements), {}})); }},
    {"empty labels",
     [] { return one_record(secret_with(core::SecretSelectorV1{{}, std::vector<core::SecretLabelV1>(kElements)})); }},
    {"labels just too long to be held inline",
     [] {
       return one_record(secret_with(core::SecretSelectorV1{
           {}, std::vector<core::SecretLabelV1>(kElements, core::SecretLabelV1{"8 bytes.", "8 bytes."})}));
     }},
    {"empty recipient slots",
     [] {
       return one_record(
           secret_with(secret({"a"}), core::SealedPayloadV1{{}, {}, core::RecipientSlots(std::vector<core::RecipientSlotV1>(kElements))}));
     }},
    {"exact path of empty segments", [] { return one_record(grant_with(read_permission(exact(Segments(kElements))))); }},
    {"presence matchers",
     [] {
       return one_record(grant_with(read_permission(
           any_keyspace(std::vector<core::KeyspaceLabelMatcherV1>(kElements, matcher(core::label_matcher::Present{}))))));
     }},
    {"empty in-matchers",
     [] {
       return one_record(grant_with(read_permission(
           any_keyspace(std::vector<core::KeyspaceLabelMatcherV1>(kElements, matcher(core::label_matcher::In{}))))));
     }},
    {"one in-matcher of empty values",
     [] { return one_record(grant_with(read_permission(any_keyspace({in("", Segments(kElements))})))); }},
    // The deepest a record nests: in-matchers inside a manage grant's keyspace.
    {"manage grant of in-matchers with one value each",
     [] {
       return one_record(grant_with(
           manage_permission(prefix({"app"}, std::vector<core::KeyspaceLabelMatcherV1>(kElements, in("", {""}))),
                             std::vector<core::KeyspaceGrantClassV1>(kElements, kRead))));
     }},
    {"tiny records", [] { return sample_vault(VaultShape::TinyRecords, 20'000); }},
};

class DecodeMemoryTest : public ::testing::TestWithParam<WorstCase> {};

TEST_P(DecodeMemoryTest, StaysWithinFourTimesTheFileAndAFixedCostPerRecord) {
  const auto file = core::validate::encode_vault(GetParam().vault().store()).value();
  // The decoded set takes the file over; it is not part of the cost.
  cord::Bytes taken = file;
  std::size_t peak = 0;
  std::size_t records = 0;
  {
    AllocationProbe probe;
    auto decoded = core::validate::decode_vault_records(std::move(taken));
    ASSERT_TRUE(decoded) << decoded.error().message();
    records = decoded->size();
    peak = probe.peak_bytes();
  }
  EXPECT_LE(peak, 4 * file.size() + kBytesPerRecord * records)
      << file.size() << " bytes in " << records << " records; " << static_cast<double>(peak) / file.size()
      << " times the file at the peak";
}

INSTANTIATE_TEST_SUITE_P(WorstCases, DecodeMemoryTest, ::testing::ValuesIn(kWorstCases),
                         [](const auto& info) {
                           std::string name;
                           for (const char c : std::string_view(info.param.name)) {
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           }
                           return name;
                         });

}  // namespace
}  // namespace morvik::testing
