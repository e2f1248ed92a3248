#include "core/merge/conflicts.hpp"

#include <algorithm>
#include <set>

#include "cord/cord.hpp"

namespace morvik::core::merge {

using validate::VerifiedRecord;

std::strong_ordering compare_lww(const VerifiedRecord& a, const VerifiedRecord& b) {
  if (auto c = a.counter() <=> b.counter(); c != 0) return c;
  if (auto c = a.signer <=> b.signer; c != 0) return c;
  return a.hash <=> b.hash;
}

bool ConflictReport::operator==(const ConflictReport& other) const {
  return remembered == other.remembered && origin == other.origin && key == other.key && counter == other.counter &&
         std::equal(candidates.begin(), candidates.end(), other.candidates.begin(), other.candidates.end(),
                    [](const auto& a, const auto& b) { return *a == *b; });
}

std::vector<std::shared_ptr<const VaultRecordV1>> canonical_candidates(
    std::vector<std::shared_ptr<const VaultRecordV1>> candidates) {
  std::vector<std::pair<cord::Bytes, std::shared_ptr<const VaultRecordV1>>> keyed;
  keyed.reserve(candidates.size());
  for (auto& record : candidates) {
    keyed.emplace_back(cord::serialize(*record).value_or(cord::Bytes{}), std::move(record));
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::shared_ptr<const VaultRecordV1>> out;
  out.reserve(keyed.size());
  for (auto& [encoding, record] : keyed) {
    if (!out.empty() && *out.back() == *record) continue;
    out.push_back(std::move(record));
  }
  return out;
}

std::map<RecordKey, ConflictReport> materialize_conflicts(const std::vector<VerifiedRecord>& records,
                                                          std::map<RecordKey, ConflictSlot> slots) {
  std::map<RecordKey, ConflictReport> reports;
  if (slots.empty()) return reports;

  // One walk over the records finds every candidate of every slot.
  std::map<HashValue, std::size_t> position;
  for (const auto& [key, slot] : slots) {
    for (const auto& hash : slot.candidates) position.emplace(hash, records.size());
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (auto it = position.find(records[i].hash); it != position.end() && it->second == records.size()) {
      it->second = i;
    }
  }

  for (auto& [key, slot] : slots) {
    std::vector<std::size_t> found;
    for (const auto& hash : slot.candidates) {
      if (auto at = position.at(hash); at < records.size()) found.push_back(at);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::shared_ptr<const VaultRecordV1>> envelopes;
    envelopes.reserve(found.size());
    for (auto at : found) envelopes.push_back(records[at].record);
    reports.emplace(key, ConflictReport{std::nullopt, std::nullopt, key, canonical_candidates(std::move(envelopes)),
                                        slot.counter});
  }
  return reports;
}

void TopCounterGroups::sort_by_key() {
  std::stable_sort(offered_.begin(), offered_.end(), [](const auto* a, const auto* b) { return a->key < b->key; });
}

TieOutcome resolve_tie(const std::vector<const VerifiedRecord*>& tied) {
  const auto& first = *tied.front();
  if (tied.size() == 1) return TieOutcome{&first, std::nullopt};
  const bool agree = std::all_of(tied.begin() + 1, tied.end(), [&](const auto* r) { return *r->body == *first.body; });
  if (agree) {
    const VerifiedRecord* winner = &first;
    for (const auto* r : tied) {
      if (r->hash < winner->hash) winner = r;
    }
    return TieOutcome{winner, std::nullopt};
  }
  std::set<HashValue> hashes;
  for (const auto* r : tied) hashes.insert(r->hash);
  return TieOutcome{nullptr, ConflictSlot{{hashes.begin(), hashes.end()}, first.counter()}};
}

}  // namespace morvik::core::merge
