#pragma once

// What the ratchet is asked to remember of a validated vault, and the
// warnings about records this version cannot read.

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "core/key_origin.hpp"
#include "core/validate/issues.hpp"
#include "core/validate/state.hpp"

namespace morvik::core::validate {

// What the state admits of one key.
struct AdmittedKey {
  // The highest counter among its admitted records.
  std::uint64_t counter = 0;
  // The body of its first admitted record, which gives a content-addressed
  // key its origin; it lives as long as the records validated.
  const RecordBodyV1* first = nullptr;
};

struct AdmittedWatermarks {
  // One entry per key, in key order, the key held once: a vault admits as
  // many keys as it holds secrets, so they are one sorted list, not a tree.
  std::vector<std::pair<RecordKey, AdmittedKey>> keys;

  // What is admitted of `key`; none when nothing is.
  const AdmittedKey* find(const RecordKey& key) const;
};

// The pre-image of the key's identifier, from its first admitted record;
// none for keys that are not content-addressed.
std::optional<KeyOrigin> admitted_origin(const AdmittedKey& admitted);

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
