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
// Offers are kept as one pointer each and sorted by key once: a tree node
// per key would take more than the records' own handles at the peak of a
// validation.
class TopCounterGroups {
 public:
  void offer(const validate::VerifiedRecord& record) { offered_.push_back(&record); }

  // Calls `each(key, tied)` once per key, in key order, and empties the
  // groups. `tied` lives until the next call.
  template <class Each>
  void for_each(Each each) {
    sort_by_key();
    std::vector<const validate::VerifiedRecord*> tied;
    for (std::size_t start = 0; start < offered_.size();) {
      const RecordKey& key = offered_[start]->key;
      std::uint64_t top = offered_[start]->counter();
      tied.assign(1, offered_[start]);
      std::size_t next = start + 1;
      for (; next < offered_.size() && offered_[next]->key == key; ++next) {
        const std::uint64_t counter = offered_[next]->counter();
        if (counter < top) continue;
        if (counter > top) {
          tied.clear();
          top = counter;
        }
        tied.push_back(offered_[next]);
      }
      each(key, tied);
      start = next;
    }
    offered_ = {};
  }

 private:
  // Stable, so that each key's records keep the order they were offered in.
  void sort_by_key();

  std::vector<const validate::VerifiedRecord*> offered_;
};

// The outcome of one key's tied records: when all bodies are equal the one
// with the smallest record hash wins; otherwise there is no winner but a slot.
struct TieOutcome {
  const validate::VerifiedRecord* winner = nullptr;
  std::optional<ConflictSlot> slot;
};
TieOutcome resolve_tie(const std::vector<const validate::VerifiedRecord*>& tied);

}  // namespace morvik::core::merge
