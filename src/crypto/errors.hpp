#pragma once

#include "core/errors.hpp"
#include "crypto/random.hpp"

namespace morvik::crypto {

using core::CryptoError;
using core::CryptoResult;

inline std::unexpected<CryptoError> fail(CryptoError error) { return std::unexpected(std::move(error)); }

// A failed draw from the operating system's generator.
CryptoError random_failure(const RandomError& error);

}  // namespace morvik::crypto
