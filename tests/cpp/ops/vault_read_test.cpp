// Reading the vault file for a session: what a failed decoding is blamed on.

#include <gtest/gtest.h>

#include "core/vault_file/vault_file.hpp"
#include "ops/vault_read.hpp"
#include "support/core/allocation_probe.hpp"
#include "support/core/vault_factory.hpp"

namespace morvik::testing {
namespace {

const store::WorkspacePaths& paths() {
  static const store::WorkspacePaths workspace = store::WorkspacePaths::from_vault_path(store::Path("/w/vault.cord"));
  return workspace;
}

TEST(VaultReadTest, MalformedBytesAreAnInvalidVaultAndMemoryRunningOutIsNot) {
  TestVault vault;
  vault.add_user(2, 1);
  const cord::Bytes file = core::validate::encode_vault(vault.store()).value();

  cord::Bytes truncated = file;
  truncated.pop_back();
  auto malformed = ops::decode_vault_file(paths(), truncated, kCrypto);
  ASSERT_FALSE(malformed);
  ASSERT_NE(malformed.error().as<ops::OpsError::Store>(), nullptr) << malformed.error().message();

  std::optional<ops::OpsResult<core::validate::RecordSet>> starved;
  cord::Bytes bytes = file;
  {
    const AllocationFailure failure(1);
    starved = ops::decode_vault_file(paths(), std::move(bytes), kCrypto);
  }
  ASSERT_FALSE(*starved);
  const auto* core = starved->error().as<ops::OpsError::Core>();
  ASSERT_NE(core, nullptr) << starved->error().message();
  EXPECT_EQ(core->error, core::CoreError::out_of_memory());
}

}  // namespace
}  // namespace morvik::testing
