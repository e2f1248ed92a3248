#pragma once

// SHA-256 (FIPS 180-4) over a list of byte strings, as if they were one.
//
// Two implementations are linked in: OpenSSL's libcrypto and libsodium.
// libcrypto picks code for the CPU at run time (SHA instructions where there
// are some, else AVX2 or SSSE3). Measured on CPUs with SHA instructions it
// runs four to five times as fast as libsodium's portable code, and with them
// masked it is no slower, on 38-byte inputs as on megabytes. So `sha256` uses
// libcrypto whenever libcrypto offers SHA-256 (a provider configuration may
// leave it out); libsodium serves otherwise, and for any call in which
// libcrypto reports a failure. Both give the same digest, so the choice is
// never visible in a result.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "cord/wire.hpp"

namespace morvik::core {

using Sha256Digest = std::array<std::uint8_t, 32>;

enum class Sha256Engine { Libcrypto, Libsodium };

// The digest of the pieces fed one after another into one state, without
// building their concatenation. Cannot fail.
Sha256Digest sha256(std::span<const cord::ByteView> pieces);

// The engine `sha256` uses in this process; chosen once, at first use.
Sha256Engine sha256_engine();

// The digest by one engine, for cross-checks and benchmarks; empty when
// libcrypto has no SHA-256 or fails.
std::optional<Sha256Digest> sha256_by(Sha256Engine engine, std::span<const cord::ByteView> pieces);

}  // namespace morvik::core
