#include "crypto/identity.hpp"

#include "core/domain_hash.hpp"
#include "crypto/hkdf.hpp"

namespace morvik::crypto {
cord::Bytes SigningKeypair::sign(std::string_view domain, cord::ByteView message) const {
  auto signature = key_.sign(core::signature_transcript(domain, message));
  return cord::Bytes(signature.begin(), signature.end());
}

cord::Bytes SigningKeypair::sign(std::string_view domain, cord::Bytes&& message) const {
  auto signature = key_.sign(core::signature_transcript(domain, std::move(message)));
  return cord::Bytes(signature.begin(), signature.end());
}

CryptoResult<IdentityKeys> derive_identity_keys(cord::ByteView master_seed) {
  if (master_seed.size() != kMasterSeedLength) {
    return fail(CryptoError{CryptoError::InvalidLength{kMasterSeedLength, master_seed.size(), "identity master seed"}});
  }
  // Salt and infos go in as raw bytes, without length prefixes.
  HkdfPrk prk = hkdf_extract(core::text_bytes(core::kIdentitySalt), master_seed);
  auto ed25519_seed = hkdf_expand(prk.span(), core::text_bytes(core::kIdentityEd25519Info), kEd25519SeedLength);
  if (!ed25519_seed) return fail(CryptoError{CryptoError::InvalidEd25519SecretKey{}});
  auto x25519_input = hkdf_expand(prk.span(), core::text_bytes(core::kIdentityX25519Info), kX25519Length);
  if (!x25519_input) return fail(CryptoError{CryptoError::InvalidHpkePrivateKey{}});
  return IdentityKeys{hpke::derive_key_pair(*x25519_input),
                      SigningKeypair(std::span<const std::uint8_t, kEd25519SeedLength>(ed25519_seed->data(),
                                                                                       kEd25519SeedLength))};
}

}  // namespace morvik::crypto
