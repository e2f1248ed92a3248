#pragma once

// The units validation works on once a record has passed the root,
// structure, signer and signature checks.

#include <cstdint>
#include <map>
#include <memory>

#include "core/hash_value.hpp"
#include "core/ids.hpp"
#include "core/record_key.hpp"
#include "core/records.hpp"

namespace morvik::core::validate {

// The trusted root record chosen by validation.
struct SelectedRoot {
  UserId user_id;
  cord::CompactBytes encryption_public_key;
  cord::CompactBytes signing_public_key;
  // Key hash of the signing key: the ratchet's trusted root.
  HashValue key_hash;

  bool operator==(const SelectedRoot&) const = default;
};

// One record that passed every check. The envelope is held once and shared
// by the state, its winners and its conflict reports; `body` points into it.
struct VerifiedRecord {
  std::shared_ptr<const VaultRecordV1> record;
  std::shared_ptr<const RecordBodyV1> body;
  RecordKey key;
  HashValue hash;
  // The user the envelope's signing key is assigned to.
  UserId signer;

  // Shares a record whose body is known.
  static VerifiedRecord shared(std::shared_ptr<const VaultRecordV1> record, RecordKey key, HashValue hash,
                               UserId signer) {
    std::shared_ptr<const RecordBodyV1> body(record, record->body.known());
    return VerifiedRecord{std::move(record), std::move(body), std::move(key), std::move(hash), std::move(signer)};
  }
  // Takes a copy of a record whose body is known.
  static VerifiedRecord of(const VaultRecordV1& record, RecordKey key, HashValue hash, UserId signer) {
    return shared(std::make_shared<const VaultRecordV1>(record), std::move(key), std::move(hash), std::move(signer));
  }

  // The body's Lamport counter; the root, which has none, counts as 0.
  std::uint64_t counter() const { return body_counter(*body).value_or(0); }
};

// Keys whose remembered counter is above what the vault now admits, mapped
// to the remembered counter. Every record of such a key is set aside.
using RollbackFloors = std::map<RecordKey, std::uint64_t>;

}  // namespace morvik::core::validate
