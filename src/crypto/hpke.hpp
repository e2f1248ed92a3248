#pragma once

// HPKE (RFC 9180), base mode only, for the one suite this system uses:
// DHKEM(X25519, HKDF-SHA256), HKDF-SHA256 and ChaCha20-Poly1305.

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "cord/bytes.hpp"
#include "crypto/aead.hpp"
#include "crypto/hkdf.hpp"
#include "crypto/secret.hpp"
#include "crypto/x25519.hpp"

namespace morvik::crypto::hpke {

inline constexpr std::size_t kEncLength = kX25519Length;
inline constexpr std::size_t kPublicKeyLength = kX25519Length;
inline constexpr std::size_t kSecretLength = 32;
inline constexpr std::size_t kKeyLength = kAeadKeyLength;
inline constexpr std::size_t kNonceLength = kAeadNonceLength;
inline constexpr std::size_t kKeyScheduleContextLength = 1 + 2 * kHkdfPrkLength;

using Enc = std::array<std::uint8_t, kEncLength>;
using PublicKey = X25519PublicKey;
using PrivateKey = X25519PrivateKey;
using SharedSecret = SecretArray<kSecretLength>;

enum class HpkeError {
  ZeroSharedSecret,     // the peer's key is of small order
  OpenFailed,           // the ciphertext did not authenticate
  MessageLimitReached,  // the sequence number would repeat a nonce
  MessageTooLong,       // beyond what the AEAD may seal under one nonce
  RandomUnavailable,    // the ephemeral key could not be drawn
};

std::string_view message(HpkeError error) noexcept;

struct KeyPair {
  PrivateKey private_key;
  PublicKey public_key;
};

struct Encapsulation {
  SharedSecret shared_secret;
  Enc enc;
};

// A base-mode context: one direction, sequence numbers counted from zero.
class Context {
 public:
  Context(const SharedSecret& shared_secret, std::span<const std::uint8_t> info);

  std::expected<cord::Bytes, HpkeError> seal(std::span<const std::uint8_t> aad,
                                                           std::span<const std::uint8_t> plaintext);
  std::expected<SecretBytes, HpkeError> open(std::span<const std::uint8_t> aad,
                                             std::span<const std::uint8_t> ciphertext);

  // The key schedule's outputs, exposed for known-answer tests. Nothing here
  // exports keys, so the exporter secret is derived only when asked for.
  const std::array<std::uint8_t, kKeyScheduleContextLength>& key_schedule_context() const noexcept {
    return key_schedule_context_;
  }
  const HkdfPrk& secret() const noexcept { return secret_; }
  const SecretArray<kKeyLength>& key() const noexcept { return key_; }
  const std::array<std::uint8_t, kNonceLength>& base_nonce() const noexcept { return base_nonce_; }
  SecretArray<32> exporter_secret() const;

 private:
  std::expected<std::array<std::uint8_t, kNonceLength>, HpkeError> current_nonce() const;

  // mode | psk_id_hash | info_hash
  std::array<std::uint8_t, kKeyScheduleContextLength> key_schedule_context_;
  HkdfPrk secret_;
  SecretArray<kKeyLength> key_;
  std::array<std::uint8_t, kNonceLength> base_nonce_;
  std::uint64_t sequence_ = 0;
};

// DeriveKeyPair of DHKEM(X25519, HKDF-SHA256).
KeyPair derive_key_pair(std::span<const std::uint8_t> ikm);
// The pair of a private key, its public key computed.
KeyPair key_pair_of(const PrivateKey& private_key);

// Encap with a fresh ephemeral key from the operating system.
std::expected<Encapsulation, HpkeError> encap(std::span<const std::uint8_t, kPublicKeyLength> recipient);

// Encap with the ephemeral key derived from `ikm_e`. For known-answer tests
// only: reusing an ephemeral key breaks the scheme.
std::expected<Encapsulation, HpkeError> encap_deterministic(std::span<const std::uint8_t, kPublicKeyLength> recipient,
                                                            std::span<const std::uint8_t> ikm_e);

// The recipient's public key is part of the KEM context; taking it from the
// pair saves computing it again for every open.
std::expected<SharedSecret, HpkeError> decap(std::span<const std::uint8_t, kEncLength> enc,
                                             const KeyPair& recipient);

struct Sealed {
  Enc enc;
  cord::Bytes ciphertext;
};

// Single-shot base-mode seal (fresh ephemeral key) and open.
std::expected<Sealed, HpkeError> seal_base(std::span<const std::uint8_t, kPublicKeyLength> recipient,
                                           std::span<const std::uint8_t> info, std::span<const std::uint8_t> aad,
                                           std::span<const std::uint8_t> plaintext);

std::expected<SecretBytes, HpkeError> open_base(std::span<const std::uint8_t, kEncLength> enc,
                                                const KeyPair& recipient, std::span<const std::uint8_t> info,
                                                std::span<const std::uint8_t> aad,
                                                std::span<const std::uint8_t> ciphertext);

}  // namespace morvik::crypto::hpke
