#include "keychain/seal.hpp"

#include "crypto/aead.hpp"
#include "keychain/argon2id.hpp"

namespace morvik::keychain {

namespace {

bool supported(cord::ByteView salt, const KdfParamsV1& kdf) {
  return kdf.algorithm == kKdfAlgorithm && salt.size() == kSaltLength && kdf.memory_kib >= kMinMemoryKib &&
         kdf.memory_kib <= kMaxMemoryKib && kdf.iterations >= 1 && kdf.iterations <= kMaxIterations &&
         kdf.lanes >= 1 && kdf.lanes <= kMaxLanes;
}

}  // namespace

KeychainResult<PassphraseKey> derive_passphrase_key(cord::ByteView passphrase, cord::ByteView salt,
                                                    const KdfParamsV1& kdf) {
  if (!supported(salt, kdf)) return fail(KeychainError::InvalidKdfParams{});
  PassphraseKey key;
  auto derived =
      argon2id(key.span(), Argon2idInput{passphrase, salt, {}, {}, Argon2idCost{kdf.memory_kib, kdf.iterations, kdf.lanes}});
  if (!derived) return fail(KeychainError::Argon2{std::move(derived.error())});
  return key;
}

KeychainResult<cord::Bytes> envelope_aad_bytes(const core::HashValue& root, const core::UserId& user) {
  auto bytes = cord::serialize(SealedIdentityAadV1{root, user});
  if (!bytes) return fail(KeychainError::Cord{std::move(bytes.error())});
  return std::move(*bytes);
}

KeychainResult<LocalIdentityV1> open_local_identity(cord::ByteView passphrase, const core::HashValue& root,
                                                    const core::UserId& user, const SealedIdentityV1& sealed) {
  if (sealed.root != root || sealed.user != user || sealed.nonce.size() != crypto::kAeadNonceLength) {
    return fail(KeychainError::InconsistentIdentity{user});
  }
  auto aad = envelope_aad_bytes(root, user);
  if (!aad) return fail(std::move(aad.error()));
  crypto::SecretBytes plaintext;
  {
    auto key = derive_passphrase_key(passphrase, sealed.salt, sealed.kdf);
    if (!key) return fail(std::move(key.error()));
    auto opened = crypto::aead_open(key->span(), std::span<const std::uint8_t, crypto::kAeadNonceLength>(sealed.nonce),
                                    *aad, sealed.ciphertext);
    if (!opened) return fail(KeychainError::UnlockFailed{});
    plaintext = std::move(*opened);
  }  // the key is wiped here, whatever the outcome
  auto local = cord::deserialize<LocalIdentityV1>(plaintext);
  if (!local) return fail(KeychainError::Cord{std::move(local.error())});
  return std::move(*local);
}

}  // namespace morvik::keychain
