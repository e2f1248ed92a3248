#pragma once

// The layout of the plaintext that a secret's content sealing encrypts:
// "morvik-secret-v1", one zero byte, then the canonical encoding of the
// SecretValueV1. Values written before the envelope existed carry no head at
// all, so reading still accepts a bare encoding and bare bytes.

#include <string_view>
#include <variant>

#include "core/payloads.hpp"
#include "crypto/secret.hpp"
#include "ops/error.hpp"

namespace morvik::ops {

inline constexpr std::string_view kEnvelopeMagic = "morvik-secret-v1";
// The magic and its zero byte.
inline constexpr std::size_t kEnvelopeHeadLength = kEnvelopeMagic.size() + 1;
// Every plaintext starting with these bytes must be a current envelope;
// none is ever read as a legacy value.
inline constexpr std::string_view kReservedEnvelopePrefix = "morvik-secret-";

// The current envelope of `value`, in a buffer wiped when released.
OpsResult<crypto::SecretBytes> envelope_plaintext(const core::SecretValueV1& value);

// An opened plaintext, classified: a decoded value (current envelope or
// legacy encoding), or legacy bytes that are the primary value themselves.
using EnvelopeContent = std::variant<core::SecretValueV1, crypto::SecretBytes>;

// Takes the opened buffer over: in the legacy raw case it is returned as it
// is; otherwise it is wiped on the way out. OpsError::InvalidEnvelope for a
// malformed current envelope or a reserved prefix.
OpsResult<EnvelopeContent> classify_plaintext(crypto::SecretBytes plaintext);

}  // namespace morvik::ops
