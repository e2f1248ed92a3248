#pragma once

// Short names of records for failure messages: the kind, a secret's path
// and the counter, as in "Secret app/api at 7". Sealing draws fresh keys,
// so the order of records in a vault file and their identifiers differ from
// run to run; such a name says which record was meant.

#include <string>

#include "core/records.hpp"

namespace morvik::ops::testing {

std::string record_name(const core::VaultRecordV1& record);

}  // namespace morvik::ops::testing
