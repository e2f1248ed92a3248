// A write whose vault would pass the vault file's record-count or size limit
// is refused as the vault encoding refuses it, and changes no file. The
// vaults are filled with records of a kind this version does not know,
// which validation passes over, so that reaching the limits costs little.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/vault_file/vault_file.hpp"
#include "ops/session.hpp"
#include "store/transaction.hpp"
#include "store/vault_file.hpp"
#include "support/ops/team_workspace.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using namespace morvik::testing;
using store::testing::exists;
using store::testing::read_file;

// A record of an unknown kind: its payload holds the kind's index (`kind`,
// above every known one) and then `size` zero bytes. It carries neither key
// nor signature, and encodes to `size` + 16 bytes.
core::VaultRecordV1 unknown_record(std::uint32_t kind, std::size_t size) {
  cord::Bytes payload(4 + size, 0);
  for (int i = 0; i < 4; ++i) payload[i] = static_cast<std::uint8_t>(kind >> (8 * (3 - i)));
  return core::VaultRecordV1{cord::UnknownPayload{std::move(payload)}, {}, {}};
}

class VaultLimitsTest : public TeamWorkspaceTest {
 protected:
  cord::Bytes vault_file() const { return store::read_vault_bytes(paths()).value(); }
  std::size_t vault_size() const { return std::filesystem::file_size(paths().vault_path.bytes()); }
  std::size_t records_in_vault() const {
    return core::vault_records(store::read_vault(paths()).value()).size();
  }

  // The write refused with the core error whose text begins with `begin`
  // and ends with `end`, and both files and the journal as they were.
  void expect_write_refused(const std::string& begin, const std::string& end) {
    const cord::Bytes vault = vault_file();
    const cord::Bytes ratchet = read_file(workspace_.ratchet_path());
    auto written = open(alice()).set_secret(kCrypto, kApi, bytes_of("one too many"));
    ASSERT_FALSE(written);
    EXPECT_NE(written.error().as<OpsError::Core>(), nullptr);
    const std::string message = written.error().message();
    EXPECT_TRUE(message.starts_with("core error: validation failed: " + begin) && message.ends_with(end)) << message;
    EXPECT_EQ(vault_file(), vault);
    EXPECT_EQ(read_file(workspace_.ratchet_path()), ratchet);
    EXPECT_FALSE(exists(store::transaction::transaction_path(paths(), trusted_root())));
  }
};

TEST_F(VaultLimitsTest, AWriteBeyondTheRecordLimitIsRefused) {
  std::vector<core::VaultRecordV1> fill;
  const std::size_t missing = core::validate::kMaxVaultRecords - records_in_vault();
  for (std::size_t i = 0; i < missing; ++i) fill.push_back(unknown_record(static_cast<std::uint32_t>(100 + i), 0));
  workspace_.add_records(fill);
  ASSERT_EQ(records_in_vault(), core::validate::kMaxVaultRecords);
  expect_write_refused("vault carries 262145 records, above the supported maximum of 262144", "");
}

TEST_F(VaultLimitsTest, AWriteBeyondTheSizeLimitIsRefused) {
  // Filled to a few bytes below the limit, which the new record passes.
  constexpr std::size_t kTarget = core::validate::kMaxVaultFileBytes - 64;
  constexpr std::size_t kLargest = cord::kMaxLength - 4;
  std::size_t size = vault_size();
  std::vector<core::VaultRecordV1> fill;
  for (std::uint32_t kind = 100; size < kTarget; ++kind) {
    const std::size_t left = kTarget - size - 16;
    // A whole record never leaves less than one record's room.
    const std::size_t payload = left <= kLargest ? left : std::min(kLargest, left - 32);
    fill.push_back(unknown_record(kind, payload));
    size += payload + 16;
  }
  workspace_.add_records(fill);
  ASSERT_EQ(vault_size(), kTarget);
  expect_write_refused("vault is ", " bytes, above the supported maximum of 268435456");
}

}  // namespace
}  // namespace morvik::ops
