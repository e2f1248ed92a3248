#pragma once

// Shared by the validation scenario tests: validate a test vault and look
// at the report.

#include <gtest/gtest.h>

#include "core/validate/pipeline.hpp"
#include "support/core/vault_factory.hpp"

namespace morvik::testing {

using core::validate::ValidationIssue;
using core::validate::ValidationReport;
using core::validate::ValidationWarning;

inline core::ratchet::Ratchet fresh_ratchet(const TestVault& vault) {
  return core::ratchet::Ratchet(vault.trusted_root());
}

// Compiled once, in pipeline_helpers.cpp: the pipeline is a template and
// costly to build in every scenario file. Every scenario is validated twice:
// from the records in memory, each encoded again, and from the vault file
// they make, each hashed from the bytes it was read from; the two reports
// must agree.
ValidationReport validate(const core::VaultStore& store, const core::ratchet::Ratchet& ratchet,
                          const std::set<core::HashValue>& verified = {});

// Fails the test unless the two reports say the same about the same records.
void expect_same_report(const ValidationReport& a, const ValidationReport& b);

inline ValidationReport validate(const TestVault& vault) { return validate(vault.store(), fresh_ratchet(vault)); }

inline core::HashValue record_hash(const core::VaultRecordV1& record) {
  return kCrypto.hash(core::kRecordHashLabel, cord::serialize(record).value());
}

inline core::RecordKey secret_key_of(const core::SecretSelectorV1& selector) {
  return core::record_key::Secret{core::derive_secret_id(kCrypto, selector).value()};
}

inline core::PrincipalRefV1 group_ref(const core::IdSeed& seed) {
  return core::principal_ref::Group{group_id_of(seed)};
}

}  // namespace morvik::testing
