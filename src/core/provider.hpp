#pragma once

#include <concepts>
#include <string_view>

#include "core/hash_value.hpp"
#include "cord/wire.hpp"

namespace morvik::core {

// What hashing and signature checks need of the cryptography, resolved at
// compile time. Validation reaches the primitives only through this.
template <class P>
concept CryptoProvider = requires(const P& provider, std::string_view domain, cord::ByteView bytes) {
  // The domain hash: 32 bytes, cannot fail.
  { provider.hash(domain, bytes) } -> std::same_as<HashValue>;
  // Strict Ed25519 verification over the signature transcript of (domain,
  // message); every problem is false, never an error.
  { provider.verify_signature(domain, bytes, bytes, bytes) } -> std::same_as<bool>;
};

// What signing needs of an identity.
template <class S>
concept RecordSigner = requires(const S& signer, std::string_view domain, cord::ByteView message) {
  // 64-byte Ed25519 signature over the signature transcript of (domain, message).
  { signer.sign(domain, message) } -> std::same_as<cord::Bytes>;
};

}  // namespace morvik::core
