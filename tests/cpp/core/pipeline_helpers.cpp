#include "pipeline_helpers.hpp"

namespace morvik::testing {

ValidationReport validate(const core::VaultStore& store, const core::ratchet::Ratchet& ratchet,
                          const std::set<core::HashValue>& verified) {
  auto report = core::validate::validate_vault_with_verified(store, ratchet, kCrypto, verified);
  EXPECT_TRUE(report.has_value());
  return std::move(report).value();
}

}  // namespace morvik::testing
