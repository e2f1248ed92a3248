#pragma once

#include "core/errors.hpp"
#include "core/records.hpp"

namespace morvik::core {

// What a record's signature covers: the canonical encoding of its body alone
// (an evolving payload; an unknown body as the bytes that were read), under
// "morvik.signed.v1". The signing key and the signature are not part of it.
CoreResult<cord::Bytes> signed_record_message(const VaultRecordV1& record);

}  // namespace morvik::core
