#include "crypto/hpke.hpp"

#include <algorithm>

#include "core/domain_hash.hpp"
#include "crypto/random.hpp"

namespace morvik::crypto::hpke {
namespace {

constexpr std::uint8_t kModeBase = 0x00;
constexpr std::uint16_t kKemId = 0x0020;
constexpr std::uint16_t kKdfId = 0x0001;
constexpr std::uint16_t kAeadId = 0x0003;

// The KEM and the rest of the scheme label their derivations with different
// suite identifiers.
constexpr std::array<std::uint8_t, 5> kKemSuite = {'K', 'E', 'M', kKemId >> 8, kKemId & 0xff};
constexpr std::array<std::uint8_t, 10> kHpkeSuite = {
    'H', 'P', 'K', 'E', kKemId >> 8, kKemId & 0xff, kKdfId >> 8, kKdfId & 0xff, kAeadId >> 8, kAeadId & 0xff};

struct Suite {
  cord::ByteView id;

  HkdfPrk labeled_extract(std::span<const std::uint8_t> salt, std::string_view label,
                          std::span<const std::uint8_t> ikm) const {
    const cord::ByteView labeled_ikm[] = {core::text_bytes("HPKE-v1"), id, core::text_bytes(label), ikm};
    return hkdf_extract(salt, labeled_ikm);
  }

  template <std::size_t N>
  SecretArray<N> labeled_expand(std::span<const std::uint8_t> prk, std::string_view label,
                                std::span<const std::uint8_t> info) const {
    static_assert(N <= kHkdfMaxOutput);
    const std::uint8_t length[] = {static_cast<std::uint8_t>(N >> 8), static_cast<std::uint8_t>(N)};
    const cord::ByteView labeled_info[] = {length, core::text_bytes("HPKE-v1"), id, core::text_bytes(label), info};
    SecretArray<N> okm;
    // N is within HKDF's bound, so the expansion cannot fail.
    (void)hkdf_expand(prk, labeled_info, okm.span());
    return okm;
  }
};

constexpr Suite kKem{kKemSuite};
constexpr Suite kHpke{kHpkeSuite};

// The hash of the empty pre-shared key identity, the same in every base-mode
// context.
const HkdfPrk& psk_id_hash() {
  static const HkdfPrk hash = kHpke.labeled_extract({}, "psk_id_hash", {});
  return hash;
}

SharedSecret extract_and_expand(const X25519SharedSecret& dh, std::span<const std::uint8_t> kem_context) {
  HkdfPrk eae_prk = kKem.labeled_extract({}, "eae_prk", dh.span());
  return kKem.labeled_expand<kSecretLength>(eae_prk.span(), "shared_secret", kem_context);
}

std::expected<SharedSecret, HpkeError> shared_secret_of(const PrivateKey& private_key,
                                                        std::span<const std::uint8_t, kX25519Length> peer,
                                                        const Enc& enc, const PublicKey& recipient) {
  // RFC 9180 requires the KEM to refuse an all-zero Diffie-Hellman output.
  auto dh = x25519(private_key, peer);
  if (!dh) return std::unexpected(HpkeError::ZeroSharedSecret);
  std::array<std::uint8_t, kEncLength + kPublicKeyLength> kem_context;
  std::copy(enc.begin(), enc.end(), kem_context.begin());
  std::copy(recipient.begin(), recipient.end(), kem_context.begin() + kEncLength);
  return extract_and_expand(*dh, kem_context);
}

}  // namespace

std::string_view message(HpkeError error) noexcept {
  switch (error) {
    case HpkeError::ZeroSharedSecret:
      return "key agreement produced the all-zero shared secret";
    case HpkeError::OpenFailed:
      return "ciphertext did not authenticate";
    case HpkeError::MessageLimitReached:
      return "message limit reached";
    case HpkeError::MessageTooLong:
      return "plaintext too long";
    case HpkeError::RandomUnavailable:
      return "no randomness for the ephemeral key";
  }
  return "unknown HPKE failure";
}

KeyPair derive_key_pair(std::span<const std::uint8_t> ikm) {
  HkdfPrk dkp_prk = kKem.labeled_extract({}, "dkp_prk", ikm);
  return key_pair_of(kKem.labeled_expand<kX25519Length>(dkp_prk.span(), "sk", {}));
}

KeyPair key_pair_of(const PrivateKey& private_key) { return KeyPair{private_key, x25519_public_key(private_key)}; }

std::expected<Encapsulation, HpkeError> encap_deterministic(std::span<const std::uint8_t, kPublicKeyLength> recipient,
                                                            std::span<const std::uint8_t> ikm_e) {
  KeyPair ephemeral = derive_key_pair(ikm_e);
  PublicKey recipient_key;
  std::copy(recipient.begin(), recipient.end(), recipient_key.begin());
  auto shared = shared_secret_of(ephemeral.private_key, recipient, ephemeral.public_key, recipient_key);
  if (!shared) return std::unexpected(shared.error());
  return Encapsulation{*shared, ephemeral.public_key};
}

std::expected<Encapsulation, HpkeError> encap(std::span<const std::uint8_t, kPublicKeyLength> recipient) {
  SecretArray<kX25519Length> ikm_e;
  if (!fill_random(ikm_e.span())) return std::unexpected(HpkeError::RandomUnavailable);
  return encap_deterministic(recipient, ikm_e.span());
}

std::expected<SharedSecret, HpkeError> decap(std::span<const std::uint8_t, kEncLength> enc,
                                             const KeyPair& recipient) {
  Enc enc_copy;
  std::copy(enc.begin(), enc.end(), enc_copy.begin());
  return shared_secret_of(recipient.private_key, enc, enc_copy, recipient.public_key);
}

Context::Context(const SharedSecret& shared_secret, std::span<const std::uint8_t> info) {
  HkdfPrk info_hash = kHpke.labeled_extract({}, "info_hash", info);
  key_schedule_context_[0] = kModeBase;
  std::copy(psk_id_hash().data(), psk_id_hash().data() + kHkdfPrkLength, key_schedule_context_.begin() + 1);
  std::copy(info_hash.data(), info_hash.data() + kHkdfPrkLength, key_schedule_context_.begin() + 1 + kHkdfPrkLength);
  secret_ = kHpke.labeled_extract(shared_secret.span(), "secret", {});
  key_ = kHpke.labeled_expand<kKeyLength>(secret_.span(), "key", key_schedule_context_);
  SecretArray<kNonceLength> nonce =
      kHpke.labeled_expand<kNonceLength>(secret_.span(), "base_nonce", key_schedule_context_);
  std::copy(nonce.data(), nonce.data() + kNonceLength, base_nonce_.begin());
}

SecretArray<32> Context::exporter_secret() const {
  return kHpke.labeled_expand<32>(secret_.span(), "exp", key_schedule_context_);
}

std::expected<std::array<std::uint8_t, kNonceLength>, HpkeError> Context::current_nonce() const {
  // The nonce holds the sequence number in 96 bits, so a u64 counter can
  // only run out at its own maximum.
  if (sequence_ == UINT64_MAX) return std::unexpected(HpkeError::MessageLimitReached);
  std::array<std::uint8_t, kNonceLength> nonce = base_nonce_;
  for (std::size_t i = 0; i < 8; ++i) {
    nonce[kNonceLength - 1 - i] ^= static_cast<std::uint8_t>(sequence_ >> (8 * i));
  }
  return nonce;
}

std::expected<cord::Bytes, HpkeError> Context::seal(std::span<const std::uint8_t> aad,
                                                                  std::span<const std::uint8_t> plaintext) {
  auto nonce = current_nonce();
  if (!nonce) return std::unexpected(nonce.error());
  auto ciphertext = aead_seal(key_.span(), *nonce, aad, plaintext);
  if (!ciphertext) return std::unexpected(HpkeError::MessageTooLong);
  ++sequence_;
  return std::move(*ciphertext);
}

std::expected<SecretBytes, HpkeError> Context::open(std::span<const std::uint8_t> aad,
                                                    std::span<const std::uint8_t> ciphertext) {
  auto nonce = current_nonce();
  if (!nonce) return std::unexpected(nonce.error());
  auto plaintext = aead_open(key_.span(), *nonce, aad, ciphertext);
  if (!plaintext) return std::unexpected(HpkeError::OpenFailed);
  ++sequence_;
  return std::move(*plaintext);
}

std::expected<Sealed, HpkeError> seal_base(std::span<const std::uint8_t, kPublicKeyLength> recipient,
                                           std::span<const std::uint8_t> info, std::span<const std::uint8_t> aad,
                                           std::span<const std::uint8_t> plaintext) {
  auto encapsulation = encap(recipient);
  if (!encapsulation) return std::unexpected(encapsulation.error());
  Context context(encapsulation->shared_secret, info);
  auto ciphertext = context.seal(aad, plaintext);
  if (!ciphertext) return std::unexpected(ciphertext.error());
  return Sealed{encapsulation->enc, std::move(*ciphertext)};
}

std::expected<SecretBytes, HpkeError> open_base(std::span<const std::uint8_t, kEncLength> enc,
                                                const KeyPair& recipient, std::span<const std::uint8_t> info,
                                                std::span<const std::uint8_t> aad,
                                                std::span<const std::uint8_t> ciphertext) {
  auto shared = decap(enc, recipient);
  if (!shared) return std::unexpected(shared.error());
  Context context(*shared, info);
  return context.open(aad, ciphertext);
}

}  // namespace morvik::crypto::hpke
