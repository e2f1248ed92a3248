#pragma once

namespace morvik::crypto {

// Lets libsodium pick its fastest implementations; safe to call repeatedly and
// from any thread. The primitives are correct without it, so its result is
// not an error path.
void ensure_sodium_initialized() noexcept;

}  // namespace morvik::crypto
