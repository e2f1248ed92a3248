#pragma once

// Opening a sealed identity: the passphrase key (Argon2id) and the
// ChaCha20-Poly1305 envelope bound to the identity's root and user.

#include "core/hash_value.hpp"
#include "core/ids.hpp"
#include "crypto/secret.hpp"
#include "keychain/error.hpp"
#include "keychain/records.hpp"

namespace morvik::keychain {

inline constexpr std::string_view kKdfAlgorithm = "argon2id-v1.3";
inline constexpr std::size_t kSaltLength = 16;
inline constexpr std::uint32_t kMinMemoryKib = 8'192;
inline constexpr std::uint32_t kMaxMemoryKib = 262'144;
inline constexpr std::uint32_t kMaxIterations = 10;
inline constexpr std::uint32_t kMaxLanes = 8;

using PassphraseKey = crypto::SecretArray<32>;

// Refuses any algorithm, salt length or cost outside the supported ranges
// before deriving anything.
KeychainResult<PassphraseKey> derive_passphrase_key(cord::ByteView passphrase, cord::ByteView salt,
                                                    const KdfParamsV1& kdf);

// The encoding of SealedIdentityAadV1.
KeychainResult<cord::Bytes> envelope_aad_bytes(const core::HashValue& root, const core::UserId& user);

KeychainResult<LocalIdentityV1> open_local_identity(cord::ByteView passphrase, const core::HashValue& root,
                                                    const core::UserId& user, const SealedIdentityV1& sealed);

}  // namespace morvik::keychain
