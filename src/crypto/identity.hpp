#pragma once

#include <string_view>

#include "core/derivations.hpp"
#include "core/ids.hpp"
#include "cord/wire.hpp"
#include "crypto/ed25519.hpp"
#include "crypto/errors.hpp"
#include "crypto/hpke.hpp"
#include "crypto/secret.hpp"

namespace morvik::crypto {

inline constexpr std::size_t kMasterSeedLength = 32;

// A user's Ed25519 signing key. Signatures cover the signature transcript of
// (domain, message), never the bare message.
class SigningKeypair {
 public:
  explicit SigningKeypair(std::span<const std::uint8_t, kEd25519SeedLength> seed) noexcept : key_(seed) {}
  // Moved, never copied, so that the secret exists once.
  SigningKeypair(SigningKeypair&&) noexcept = default;
  SigningKeypair& operator=(SigningKeypair&&) noexcept = default;
  SigningKeypair(const SigningKeypair&) = delete;
  SigningKeypair& operator=(const SigningKeypair&) = delete;

  const Ed25519PublicKey& public_key() const noexcept { return key_.public_key(); }
  cord::Bytes sign(std::string_view domain, cord::ByteView message) const;
  // Signs with the message's buffer made into the transcript, in place
  // when it has room (see core::signature_transcript).
  cord::Bytes sign(std::string_view domain, cord::Bytes&& message) const;

 private:
  Ed25519SigningKey key_;
};

// The encryption key pair of DHKEM(X25519, HKDF-SHA256).
using EncryptionKeypair = hpke::KeyPair;

struct IdentityKeys {
  EncryptionKeypair encryption_keypair;
  SigningKeypair signing_keypair;
};

// Both key pairs of a user, derived from the 32-byte master seed through
// HKDF-SHA256; the seed itself is never used as a key.
CryptoResult<IdentityKeys> derive_identity_keys(cord::ByteView master_seed);

// A user, as derived from a master seed. Move-only (its signing key is):
// the seed copy and the keys are wiped when it is released.
struct Identity {
  core::UserId user_id;
  cord::Bytes signing_public_key;
  cord::Bytes encryption_public_key;
  SecretBytes master_seed;
  EncryptionKeypair encryption_keypair;
  SigningKeypair signing_keypair;

  template <core::CryptoProvider P>
  static CryptoResult<Identity> from_master_seed(const P& provider, cord::ByteView master_seed);

  cord::Bytes sign(std::string_view domain, cord::ByteView message) const {
    return signing_keypair.sign(domain, message);
  }
  cord::Bytes sign(std::string_view domain, cord::Bytes&& message) const {
    return signing_keypair.sign(domain, std::move(message));
  }
};

static_assert(core::RecordSigner<Identity>);

template <core::CryptoProvider P>
CryptoResult<Identity> Identity::from_master_seed(const P& provider, cord::ByteView master_seed) {
  auto keys = derive_identity_keys(master_seed);
  if (!keys) return fail(std::move(keys.error()));
  const auto& signing = keys->signing_keypair.public_key();
  const auto& encryption = keys->encryption_keypair.public_key;
  cord::Bytes signing_public_key(signing.begin(), signing.end());
  cord::Bytes encryption_public_key(encryption.begin(), encryption.end());
  auto user_id = core::derive_user_id(provider, signing_public_key, encryption_public_key);
  if (!user_id) return fail(CryptoError{CryptoError::Core{std::move(user_id.error())}});
  return Identity{std::move(*user_id),
                  std::move(signing_public_key),
                  std::move(encryption_public_key),
                  SecretBytes(master_seed.begin(), master_seed.end()),
                  std::move(keys->encryption_keypair),
                  std::move(keys->signing_keypair)};
}

}  // namespace morvik::crypto
