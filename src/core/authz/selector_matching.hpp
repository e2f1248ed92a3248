#pragma once

// Which secrets a keyspace covers, and whether one keyspace covers all that
// another does. Segments, label keys and values compare as exact bytes.

#include "core/selectors.hpp"

namespace morvik::core::authz {

// Whether the secret lies in the keyspace.
bool selector_matches(const KeyspaceSelectorV1& keyspace, const SecretSelectorV1& secret);

// The same answer for a keyspace whose shape the structural checks accept,
// told whether the secret's labels ascend: nothing the checks guarantee is
// checked again, and `In` values are searched by halves.
bool canonical_selector_matches(const KeyspaceSelectorV1& keyspace, const SecretSelectorV1& secret,
                                bool labels_ascending);

// Whether every secret `inner` can match, `outer` matches too. Judged on the
// matchers' forms, not on the secrets that exist.
bool selector_subsumes(const KeyspaceSelectorV1& outer, const KeyspaceSelectorV1& inner);

}  // namespace morvik::core::authz
