#pragma once

// What the ratchet is asked to remember of a validated vault, and the
// warnings about records this version cannot read.

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "core/key_origin.hpp"
#include "core/validate/issues.hpp"
#include "core/validate/state.hpp"

namespace morvik::core::validate {

struct AdmittedWatermarks {
  // Per key, the highest counter among the records the state admits.
  std::map<RecordKey, std::uint64_t> counters;
  // Per content-addressed key, the origin of its first admitted record.
  std::map<RecordKey, KeyOrigin> origins;
};

// Admission is not winning: every record of a key that its signer was
// allowed to write counts, deletions under the key of what they delete.
AdmittedWatermarks admitted_watermarks(const std::vector<VerifiedRecord>& records, const EffectiveState& state,
                                       std::set<HashValue> applied);
// The same, with `writes` answered for `records` by `state`.
AdmittedWatermarks admitted_watermarks(const std::vector<VerifiedRecord>& records, const EffectiveState& state,
                                       std::set<HashValue> applied, const SecretWrites& writes);

// Nothing for 0, else one UnknownRecordsIgnored carrying the count.
std::vector<ValidationWarning> warnings_for(std::uint64_t unknown_count);

}  // namespace morvik::core::validate
