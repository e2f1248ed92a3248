#pragma once

// The validation pipeline as vault operations run it: over the one
// cryptographic provider, its encoding and derivation failures as
// OpsError::Core. Findings stay in the report.

#include "core/hash_value.hpp"
#include "core/ratchet/ratchet.hpp"
#include "core/records.hpp"
#include "core/validate/pipeline.hpp"
#include "core/vault_file/record_set.hpp"
#include "crypto/provider.hpp"
#include "ops/error.hpp"

namespace morvik::ops {

// Signatures of records whose hashes are in `verified` are not checked again;
// the hashes are freed once the records are listed.
OpsResult<core::validate::ValidationReport> validate_records(const core::validate::RecordSet& records,
                                                             const core::ratchet::Ratchet& ratchet,
                                                             const crypto::Crypto& crypto,
                                                             core::validate::VerifiedDigests verified);

}  // namespace morvik::ops
