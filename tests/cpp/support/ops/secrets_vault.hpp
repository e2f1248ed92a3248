#pragma once

// A small vault into which the secret tests, and the ops tool, write secrets
// through the sealing under test: the root (seed 1), alice (seed 2), who may
// read and write under "app", and bob (seed 3), who holds no grant. Further
// grants and records are added by the test.

#include <set>

#include "core/ratchet/ratchet.hpp"
#include "core/validate/pipeline.hpp"
#include "ops/seal_secret.hpp"
#include "support/core/vault_factory.hpp"

namespace morvik::testing {

inline constexpr std::uint8_t kRootSeed = 1;
inline constexpr std::uint8_t kAliceSeed = 2;
inline constexpr std::uint8_t kBobSeed = 3;

inline cord::Bytes bytes_of(std::string_view text) { return cord::Bytes(text.begin(), text.end()); }
// A decrypted value's bytes, held as the value types hold them.
inline crypto::SecretBytes secret_bytes_of(std::string_view text) { return crypto::SecretBytes(text.begin(), text.end()); }
inline std::string text_of(cord::ByteView bytes) { return std::string(bytes.begin(), bytes.end()); }

// Compiled once, in secrets_vault.cpp: the pipeline is a costly template.
core::validate::ValidationReport validate_records(const core::VaultStore& store, const core::ratchet::Ratchet& ratchet);

// The stored record with this hash; fails the test when there is none.
const core::VaultRecordV1& record_with_hash(const core::VaultStore& store, const core::HashValue& hash);
const core::VaultRecordV1& record_with_hash(const core::validate::RecordSet& records, const core::HashValue& hash);
// The Secret body of a record.
const core::SecretRecordV1& secret_of(const core::VaultRecordV1& record);

class SecretsVault {
 public:
  SecretsVault();

  const crypto::Identity& root() const { return vault_.root(); }
  const crypto::Identity& alice() const { return vault_.user(kAliceSeed); }
  const crypto::Identity& bob() const { return vault_.user(kBobSeed); }
  core::HashValue trusted_root() const { return vault_.trusted_root(); }
  const core::VaultStore& store() const { return vault_.store(); }

  void add(core::VaultRecordV1 record) { vault_.add(std::move(record)); }
  void add(const crypto::Identity& signer, cord::Evolving<core::RecordBodyV1> body) {
    vault_.add(signer, std::move(body));
  }
  // A read grant over the keyspace for the user; `seed` names the grant.
  void grant_read(std::uint8_t seed, const crypto::Identity& user, core::KeyspaceSelectorV1 keyspace,
                  std::uint64_t counter);

  core::ratchet::Ratchet fresh_ratchet() const { return core::ratchet::Ratchet(trusted_root()); }
  // Validated with a fresh ratchet; the test fails on any issue.
  core::validate::EffectiveState state() const;

  // Writes through the value step against the current state and keeps the
  // record; returns it.
  core::VaultRecordV1 set(const crypto::Identity& writer, const core::SecretSelectorV1& selector,
                          const core::SecretValueV1& value);
  core::VaultRecordV1 set(const crypto::Identity& writer, const core::SecretSelectorV1& selector,
                          std::string_view primary);
  // Seals `plaintext` as it is, without the envelope: how values stored
  // before the envelope existed, or by a faulty writer, look.
  core::VaultRecordV1 set_plaintext(const crypto::Identity& writer, const core::SecretSelectorV1& selector,
                                    cord::ByteView plaintext);
  core::VaultRecordV1 remove(const crypto::Identity& writer, const core::SecretSelectorV1& selector);

 private:
  TestVault vault_;
};

}  // namespace morvik::testing
