#include "ops/validation.hpp"

namespace morvik::ops {

OpsResult<core::validate::ValidationReport> validate_records(const core::validate::RecordSet& records,
                                                             const core::ratchet::Ratchet& ratchet,
                                                             const crypto::Crypto& crypto,
                                                             core::validate::VerifiedDigests verified) {
  auto report = core::validate::validate_vault_with_verified(records, ratchet, crypto, std::move(verified));
  if (!report) return fail(std::move(report.error()));
  return std::move(*report);
}

}  // namespace morvik::ops
