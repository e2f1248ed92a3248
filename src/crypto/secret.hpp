#pragma once

// The wiping containers for key material, under the names the cryptography
// and everything above it use; they live in core/secret.hpp.

#include "core/secret.hpp"

namespace morvik::crypto {

using core::SecretArray;
using core::SecretBytes;
using core::WipingAllocator;
using core::wipe;

}  // namespace morvik::crypto
