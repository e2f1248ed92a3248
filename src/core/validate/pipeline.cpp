#include "core/validate/pipeline.hpp"

#include <algorithm>
#include <numeric>

#include "core/merge/lww_resolution.hpp"
#include "core/validate/deletions.hpp"
#include "core/validate/watermarks.hpp"

namespace morvik::core::validate {
namespace {

std::uint64_t admitted_counter(const AdmittedWatermarks& admitted, const RecordKey& key) {
  auto it = admitted.counters.find(key);
  return it == admitted.counters.end() ? 0 : it->second;
}

// Keys the ratchet remembers above what the vault now admits.
RollbackFloors rollback_floors(const ratchet::Ratchet& ratchet, const AdmittedWatermarks& admitted) {
  RollbackFloors floors;
  for (const auto& [key, remembered] : ratchet.watermarks) {
    if (admitted_counter(admitted, key) < remembered) floors.emplace(key, remembered);
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
    if (auto it = admitted.origins.find(key); it != admitted.origins.end()) {
      origin = it->second;
    } else if (auto stored = ratchet.origins.find(key); stored != ratchet.origins.end()) {
      origin = stored->second;
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
// that have none yet; takes them out of `admitted`.
ratchet::RatchetUpdate ratchet_update(AdmittedWatermarks admitted, const ratchet::Ratchet& ratchet) {
  ratchet::RatchetUpdate update;
  for (auto it = admitted.counters.begin(); it != admitted.counters.end();) {
    auto remembered = ratchet.watermarks.find(it->first);
    const bool higher = it->second > (remembered == ratchet.watermarks.end() ? 0 : remembered->second);
    auto next = std::next(it);
    if (higher) update.watermarks.insert(update.watermarks.end(), admitted.counters.extract(it));
    it = next;
  }
  for (auto it = admitted.origins.begin(); it != admitted.origins.end();) {
    auto next = std::next(it);
    if (!ratchet.origins.contains(it->first)) update.origins.insert(update.origins.end(), admitted.origins.extract(it));
    it = next;
  }
  return update;
}

}  // namespace

namespace detail {

void drop_repeated_hashes(std::vector<ListedRecord>& records) {
  std::vector<std::size_t> order(records.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const auto c = records[a].hash <=> records[b].hash;
    return c != 0 ? c < 0 : a < b;
  });
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
  AdmittedWatermarks admitted = admitted_watermarks(records, first.state, std::move(first.applied));
  const auto floors = rollback_floors(ratchet, admitted);

  // Without floors the second resolution would repeat the first.
  report.state = floors.empty() ? std::move(first.state)
                                : resolve_effective_with_deletions(checked.root, records, floors).state;
  if (report.state.did_not_converge) report.issues.push_back(ValidationIssue::AuthorityDidNotConverge{});

  auto ties = merge::materialize_conflicts(records, merge::lww_resolution(records, floors, report.state));
  for (auto& [key, conflict] : ties) report.state.conflicts.insert_or_assign(key, std::move(conflict));
  auto rollbacks = rollback_conflicts(records, floors, admitted, ratchet);
  for (auto& [key, conflict] : rollbacks) report.state.conflicts.insert_or_assign(key, std::move(conflict));

  std::optional<std::uint64_t> highest;
  for (const auto& [key, counter] : admitted.counters) highest = std::max(highest.value_or(0), counter);
  report.state.attach_verified_records(std::move(checked.verified), highest);

  report.ratchet_update = ratchet_update(std::move(admitted), ratchet);
  report.warnings = warnings_for(checked.unknown_count);
  for (auto& hash : checked.ambiguous_key_hashes) {
    report.warnings.push_back(ValidationWarning::AmbiguousSignerKey{std::move(hash)});
  }
  return report;
}

}  // namespace morvik::core::validate
