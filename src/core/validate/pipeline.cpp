#include "core/validate/pipeline.hpp"

#include <algorithm>

#include "core/merge/lww_resolution.hpp"
#include "core/validate/deletions.hpp"
#include "core/validate/watermarks.hpp"

namespace morvik::core::validate {
namespace {

std::uint64_t admitted_counter(const AdmittedWatermarks& admitted, const RecordKey& key) {
  const AdmittedKey* found = admitted.find(key);
  return found ? found->counter : 0;
}

// Keys the ratchet remembers above what the vault now admits. Both are in
// key order: one pass over the two rather than a search per key.
RollbackFloors rollback_floors(const ratchet::Ratchet& ratchet, const AdmittedWatermarks& admitted) {
  RollbackFloors floors;
  auto now = admitted.keys.begin();
  for (const auto& [key, remembered] : ratchet.watermarks) {
    while (now != admitted.keys.end() && now->first < key) ++now;
    const std::uint64_t counter = now != admitted.keys.end() && now->first == key ? now->second.counter : 0;
    if (counter < remembered) floors.emplace_hint(floors.end(), key, remembered);
  }
  return floors;
}

// One report per floored key: what the vault still admits for it, beside
// what the ratchet remembers.
std::map<RecordKey, merge::ConflictReport> rollback_conflicts(const std::vector<VerifiedRecord>& records,
                                                              const RollbackFloors& floors,
                                                              const AdmittedWatermarks& admitted,
                                                              const ratchet::Ratchet& ratchet) {
  std::map<RecordKey, merge::ConflictReport> reports;
  if (floors.empty()) return reports;
  std::map<RecordKey, std::vector<std::shared_ptr<const VaultRecordV1>>> candidates;
  for (const auto& record : records) {
    if (floors.contains(record.key) && record.counter() == admitted_counter(admitted, record.key)) {
      candidates[record.key].push_back(record.record);
    }
  }
  for (const auto& [key, remembered] : floors) {
    std::optional<KeyOrigin> origin;
    if (const AdmittedKey* found = admitted.find(key)) origin = admitted_origin(*found);
    if (!origin) {
      if (auto stored = ratchet.origins.find(key); stored != ratchet.origins.end()) origin = stored->second;
    }
    auto found = candidates.find(key);
    reports.emplace(key, merge::ConflictReport{
                             remembered, std::move(origin), key,
                             found == candidates.end() ? std::vector<std::shared_ptr<const VaultRecordV1>>{}
                                                       : merge::canonical_candidates(std::move(found->second)),
                             admitted_counter(admitted, key)});
  }
  return reports;
}

// The admitted counters above the remembered ones, and the origins of keys
// that have none yet. Moves the keys out of `admitted`, in the order of the
// ratchet's maps, which are walked beside them.
ratchet::RatchetUpdate ratchet_update(AdmittedWatermarks admitted, const ratchet::Ratchet& ratchet) {
  ratchet::RatchetUpdate update;
  auto watermark = ratchet.watermarks.begin();
  auto origin = ratchet.origins.begin();
  for (auto& [key, now] : admitted.keys) {
    while (watermark != ratchet.watermarks.end() && watermark->first < key) ++watermark;
    while (origin != ratchet.origins.end() && origin->first < key) ++origin;
    const bool has_origin = origin != ratchet.origins.end() && origin->first == key;
    const std::uint64_t remembered =
        watermark != ratchet.watermarks.end() && watermark->first == key ? watermark->second : 0;
    const bool higher = now.counter > remembered;
    if (auto first_origin = has_origin ? std::nullopt : admitted_origin(now)) {
      // The key moves to the last map that takes it.
      if (higher) {
        update.origins.emplace_hint(update.origins.end(), key, std::move(*first_origin));
      } else {
        update.origins.emplace_hint(update.origins.end(), std::move(key), std::move(*first_origin));
      }
    }
    if (higher) update.watermarks.emplace_hint(update.watermarks.end(), std::move(key), now.counter);
  }
  return update;
}

}  // namespace

// Both sets are in bytewise order, so digests of one length stay sorted.
VerifiedDigests::VerifiedDigests(const std::set<HashValue>& hashes) {
  digests_.reserve(hashes.size());
  for (const HashValue& hash : hashes) add(hash);
}

VerifiedDigests::VerifiedDigests(cord::Set<HashValue> hashes) {
  digests_.reserve(hashes.size());
  hashes.drain([&](HashValue hash) { add(hash); });
}

void VerifiedDigests::add(const HashValue& hash) {
  if (hash.bytes.size() != 32) return;
  std::copy(hash.bytes.begin(), hash.bytes.end(), digests_.emplace_back().begin());
}

bool VerifiedDigests::contains(const HashValue& hash) const {
  if (hash.bytes.size() != 32) return false;
  std::array<std::uint8_t, 32> digest;
  std::copy(hash.bytes.begin(), hash.bytes.end(), digest.begin());
  return std::binary_search(digests_.begin(), digests_.end(), digest);
}

namespace detail {

namespace {

// The first eight bytes of a hash, as a number that orders as they do.
std::uint64_t hash_prefix(const HashValue& hash) {
  std::uint64_t prefix = 0;
  for (std::size_t i = 0; i < 8; ++i) prefix = (prefix << 8) | (i < hash.bytes.size() ? hash.bytes[i] : 0);
  return prefix;
}

}  // namespace

void drop_repeated_hashes(std::vector<ListedRecord>& records) {
  // Sorted by a prefix kept beside each index, then by the whole hash: the
  // whole hashes, each behind a pointer, are compared only on equal prefixes.
  std::vector<std::pair<std::uint64_t, std::size_t>> keyed(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) keyed[i] = {hash_prefix(records[i].hash), i};
  std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    const auto c = records[a.second].hash <=> records[b.second].hash;
    return c != 0 ? c < 0 : a.second < b.second;
  });
  std::vector<std::size_t> order(records.size());
  for (std::size_t i = 0; i < keyed.size(); ++i) order[i] = keyed[i].second;
  std::vector<bool> repeated(records.size(), false);
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (records[order[i]].hash == records[order[i - 1]].hash) repeated[order[i]] = true;
  }
  // The test reads each element where it stood: earlier ones only move down.
  const ListedRecord* first = records.data();
  std::erase_if(records, [&](const ListedRecord& record) { return repeated[&record - first]; });
}

}  // namespace detail

ValidationReport fatal_report(ValidationIssue issue) {
  ValidationReport report;
  report.issues.push_back(std::move(issue));
  return report;
}

ValidationReport resolve_checked_records(CheckedRecords checked, const ratchet::Ratchet& ratchet) {
  const auto& records = checked.verified;
  ValidationReport report;
  report.issues = std::move(checked.issues);

  // What the vault admits, against which the ratchet's watermarks are
  // measured, comes from a first resolution without floors.
  auto first = resolve_effective_with_deletions(checked.root, records, {});
  if (first.work_limit_exceeded) return fatal_report(ValidationIssue::DeletionWorkLimitExceeded{});
  auto writes = first.state.secret_writes(records);
  AdmittedWatermarks admitted = admitted_watermarks(records, first.state, std::move(first.applied), writes);
  const auto floors = rollback_floors(ratchet, admitted);

  // Without floors the second resolution would repeat the first, and its
  // answers with it.
  if (floors.empty()) {
    report.state = std::move(first.state);
  } else {
    auto second = resolve_effective_with_deletions(checked.root, records, floors);
    if (second.work_limit_exceeded) return fatal_report(ValidationIssue::DeletionWorkLimitExceeded{});
    report.state = std::move(second.state);
    writes = report.state.secret_writes(records);
  }
  if (report.state.did_not_converge) report.issues.push_back(ValidationIssue::AuthorityDidNotConverge{});

  auto ties = merge::materialize_conflicts(records, merge::lww_resolution(records, floors, writes));
  for (auto& [key, conflict] : ties) report.state.conflicts.insert_or_assign(key, std::move(conflict));
  auto rollbacks = rollback_conflicts(records, floors, admitted, ratchet);
  for (auto& [key, conflict] : rollbacks) report.state.conflicts.insert_or_assign(key, std::move(conflict));

  std::optional<std::uint64_t> highest;
  for (const auto& [key, now] : admitted.keys) highest = std::max(highest.value_or(0), now.counter);
  // What the vault admits goes with the update it makes, before the state
  // grows its index of the records.
  report.ratchet_update = ratchet_update(std::move(admitted), ratchet);
  report.state.attach_verified_records(std::move(checked.verified), highest, writes);
  report.warnings = warnings_for(checked.unknown_count);
  for (auto& hash : checked.ambiguous_key_hashes) {
    report.warnings.push_back(ValidationWarning::AmbiguousSignerKey{std::move(hash)});
  }
  return report;
}

}  // namespace morvik::core::validate
