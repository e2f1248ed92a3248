#include "crypto/hkdf.hpp"

#include <algorithm>

#include <sodium.h>

#include "crypto/sodium.hpp"

namespace morvik::crypto {
namespace {

// Wipes the HMAC state, which holds the key's padded blocks, when done.
class Hmac {
 public:
  explicit Hmac(std::span<const std::uint8_t> key) noexcept {
    ensure_sodium_initialized();
    // libsodium wants a pointer even for an empty key (an empty salt).
    static constexpr std::uint8_t kNoKey = 0;
    crypto_auth_hmacsha256_init(&state_, key.empty() ? &kNoKey : key.data(), key.size());
  }
  Hmac(const Hmac&) = delete;
  Hmac& operator=(const Hmac&) = delete;
  ~Hmac() { wipe(&state_, sizeof state_); }

  void update(std::span<const std::uint8_t> data) noexcept {
    crypto_auth_hmacsha256_update(&state_, data.data(), data.size());
  }
  void finish(std::span<std::uint8_t, crypto_auth_hmacsha256_BYTES> out) noexcept {
    crypto_auth_hmacsha256_final(&state_, out.data());
  }

 private:
  crypto_auth_hmacsha256_state state_;
};

}  // namespace

HkdfPrk hkdf_extract(std::span<const std::uint8_t> salt, std::span<const std::uint8_t> ikm) noexcept {
  // HMAC pads its key with zeros, so an empty salt already acts as 32 zeros.
  Hmac hmac(salt);
  hmac.update(ikm);
  HkdfPrk prk;
  hmac.finish(prk.span());
  return prk;
}

std::expected<SecretBytes, HkdfError> hkdf_expand(std::span<const std::uint8_t> prk,
                                                  std::span<const std::uint8_t> info, std::size_t length) {
  if (length > kHkdfMaxOutput) return std::unexpected(HkdfError::OutputTooLong);
  SecretBytes okm;
  okm.reserve(length);
  SecretArray<crypto_auth_hmacsha256_BYTES> block;
  std::size_t block_length = 0;
  for (std::uint8_t counter = 1; okm.size() < length; ++counter) {
    Hmac hmac(prk);
    hmac.update(std::span<const std::uint8_t>(block.data(), block_length));
    hmac.update(info);
    hmac.update(std::span<const std::uint8_t>(&counter, 1));
    hmac.finish(block.span());
    block_length = block.size();
    std::size_t take = std::min(block_length, length - okm.size());
    okm.insert(okm.end(), block.data(), block.data() + take);
  }
  return okm;
}

}  // namespace morvik::crypto
