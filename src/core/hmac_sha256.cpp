#include "core/hmac_sha256.hpp"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <sodium.h>

#include <algorithm>
#include <memory>

#include "core/secret.hpp"

namespace morvik::core {
namespace {

// The empty key's pointer, which both libraries want.
constexpr std::uint8_t kNoKey = 0;

// Fetched once: an implicit fetch on every call costs more than a short MAC.
// Absent where `sha256` does not use libcrypto, so that both agree.
EVP_MAC* libcrypto_hmac() {
  static EVP_MAC* const mac =
      sha256_engine() == Sha256Engine::Libcrypto ? EVP_MAC_fetch(nullptr, "HMAC", nullptr) : nullptr;
  return mac;
}

struct ContextFree {
  // Cleanses the keyed digest states and the copy of the key.
  void operator()(EVP_MAC_CTX* context) const noexcept { EVP_MAC_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MAC_CTX, ContextFree>;

// A context set to SHA-256 and keyed with the empty key, which is no secret,
// kept per thread to be copied: a copy costs a fifth less than a new context,
// which looks the digest up by name.
const EVP_MAC_CTX* empty_key_context() {
  thread_local const Context context = [] {
    EVP_MAC* hmac = libcrypto_hmac();
    if (hmac == nullptr) return Context();
    Context fresh(EVP_MAC_CTX_new(hmac));
    char digest_name[] = "SHA256";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest_name, 0),
                                 OSSL_PARAM_construct_end()};
    if (fresh && EVP_MAC_init(fresh.get(), &kNoKey, 0, params) != 1) fresh.reset();
    return fresh;
  }();
  return context.get();
}

bool libcrypto_mac(std::span<const std::uint8_t> key, std::span<const cord::ByteView> message,
                   std::span<std::uint8_t, kHmacSha256Length> mac) noexcept {
  const EVP_MAC_CTX* empty_key = empty_key_context();
  if (empty_key == nullptr) return false;
  // A copy per call, freed at its end: a context kept for the next call
  // would keep this key in it.
  const Context context(EVP_MAC_CTX_dup(empty_key));
  if (!context) return false;
  // No key keeps the copy's own, the empty key: an empty salt needs no new one.
  bool ok = EVP_MAC_init(context.get(), key.empty() ? nullptr : key.data(), key.size(), nullptr) == 1;
  for (const cord::ByteView piece : message) {
    if (!ok) break;
    if (!piece.empty()) ok = EVP_MAC_update(context.get(), piece.data(), piece.size()) == 1;
  }
  SecretArray<kHmacSha256Length> out;
  std::size_t length = 0;
  ok = ok && EVP_MAC_final(context.get(), out.data(), &length, out.size()) == 1 && length == out.size();
  if (ok) std::copy(out.data(), out.data() + out.size(), mac.begin());
  return ok;
}

void libsodium_mac(std::span<const std::uint8_t> key, std::span<const cord::ByteView> message,
                   std::span<std::uint8_t, kHmacSha256Length> mac) noexcept {
  crypto_auth_hmacsha256_state state;
  crypto_auth_hmacsha256_init(&state, key.empty() ? &kNoKey : key.data(), key.size());
  for (const cord::ByteView piece : message) {
    if (!piece.empty()) crypto_auth_hmacsha256_update(&state, piece.data(), piece.size());
  }
  crypto_auth_hmacsha256_final(&state, mac.data());
  // The state holds the key's padded blocks.
  wipe(&state, sizeof state);
}

}  // namespace

void hmac_sha256(std::span<const std::uint8_t> key, std::span<const cord::ByteView> message,
                 std::span<std::uint8_t, kHmacSha256Length> mac) noexcept {
  if (!libcrypto_mac(key, message, mac)) libsodium_mac(key, message, mac);
}

bool hmac_sha256_by(Sha256Engine engine, std::span<const std::uint8_t> key, std::span<const cord::ByteView> message,
                    std::span<std::uint8_t, kHmacSha256Length> mac) noexcept {
  if (engine == Sha256Engine::Libcrypto) return libcrypto_mac(key, message, mac);
  libsodium_mac(key, message, mac);
  return true;
}

}  // namespace morvik::core
