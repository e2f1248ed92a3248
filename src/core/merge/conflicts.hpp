#pragma once

// Last-writer-wins order and the form of a tie it cannot decide.

#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "core/hash_value.hpp"
#include "core/key_origin.hpp"
#include "core/record_key.hpp"
#include "core/records.hpp"
#include "core/validate/verified_record.hpp"

namespace morvik::core::merge {

// Counter, then signer id bytes, then record hash bytes.
std::strong_ordering compare_lww(const validate::VerifiedRecord& a, const validate::VerifiedRecord& b);

// A tie between writers: the tied record hashes, ascending and distinct,
// and the counter they share.
struct ConflictSlot {
  std::vector<HashValue> candidates;
  std::uint64_t counter = 0;

  bool operator==(const ConflictSlot&) const = default;
};

// One conflicted key. `remembered` and `origin` are set only for a rollback
// (the ratchet remembers more than the vault admits); for a tie between
// writers they are absent and `counter` is the shared counter.
struct ConflictReport {
  std::optional<std::uint64_t> remembered;
  std::optional<KeyOrigin> origin;
  RecordKey key;
  // The competing envelopes, shared with the verified records, ordered by
  // their canonical encodings without repeats.
  std::vector<std::shared_ptr<const VaultRecordV1>> candidates;
  std::uint64_t counter = 0;

  bool operator==(const ConflictReport& other) const;
};

// Sorts envelopes by their canonical encodings (one that fails to encode
// counts as empty, equal encodings keep their order) and drops repeats.
std::vector<std::shared_ptr<const VaultRecordV1>> canonical_candidates(
    std::vector<std::shared_ptr<const VaultRecordV1>> candidates);

// One tie report per slot; a candidate hash that names no record adds
// nothing.
std::map<RecordKey, ConflictReport> materialize_conflicts(const std::vector<validate::VerifiedRecord>& records,
                                                          std::map<RecordKey, ConflictSlot> slots);

// Per key, the records sharing its highest counter, in the order offered.
class TopCounterGroups {
 public:
  void offer(const validate::VerifiedRecord& record);

  struct KeyLess {
    bool operator()(const RecordKey* a, const RecordKey* b) const { return *a < *b; }
  };
  using Groups = std::map<const RecordKey*, std::vector<const validate::VerifiedRecord*>, KeyLess>;
  const Groups& groups() const { return groups_; }

 private:
  Groups groups_;
};

// The outcome of one key's tied records: when all bodies are equal the one
// with the smallest record hash wins; otherwise there is no winner but a slot.
struct TieOutcome {
  const validate::VerifiedRecord* winner = nullptr;
  std::optional<ConflictSlot> slot;
};
TieOutcome resolve_tie(const std::vector<const validate::VerifiedRecord*>& tied);

}  // namespace morvik::core::merge
