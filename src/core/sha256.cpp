#include "core/sha256.hpp"

#include <openssl/evp.h>
#include <sodium.h>

#include <memory>

namespace morvik::core {
namespace {

// Fetched once: an implicit fetch on every initialisation costs more than
// hashing a short input.
const EVP_MD* libcrypto_sha256() {
  static const EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  return md;
}

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const noexcept { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

std::optional<Sha256Digest> libcrypto_digest(std::span<const cord::ByteView> pieces) {
  const EVP_MD* md = libcrypto_sha256();
  if (md == nullptr) return std::nullopt;
  // One context per thread, initialised afresh for every digest: allocating
  // one per call shows on the short inputs that most hashes have.
  thread_local Context context;
  if (!context) context.reset(EVP_MD_CTX_new());
  if (!context) return std::nullopt;
  bool ok = EVP_DigestInit_ex2(context.get(), md, nullptr) == 1;
  for (const cord::ByteView piece : pieces) {
    if (!ok) break;
    if (!piece.empty()) ok = EVP_DigestUpdate(context.get(), piece.data(), piece.size()) == 1;
  }
  Sha256Digest digest{};
  unsigned int length = 0;
  ok = ok && EVP_DigestFinal_ex(context.get(), digest.data(), &length) == 1 && length == digest.size();
  if (!ok) {
    // A context in an unknown state is not reused.
    context.reset();
    return std::nullopt;
  }
  return digest;
}

Sha256Digest libsodium_digest(std::span<const cord::ByteView> pieces) {
  crypto_hash_sha256_state state;
  crypto_hash_sha256_init(&state);
  for (const cord::ByteView piece : pieces) {
    if (!piece.empty()) crypto_hash_sha256_update(&state, piece.data(), piece.size());
  }
  Sha256Digest digest{};
  crypto_hash_sha256_final(&state, digest.data());
  return digest;
}

}  // namespace

Sha256Digest sha256(std::span<const cord::ByteView> pieces) {
  if (auto digest = libcrypto_digest(pieces)) return *digest;
  return libsodium_digest(pieces);
}

Sha256Engine sha256_engine() {
  return libcrypto_sha256() != nullptr ? Sha256Engine::Libcrypto : Sha256Engine::Libsodium;
}

std::optional<Sha256Digest> sha256_by(Sha256Engine engine, std::span<const cord::ByteView> pieces) {
  if (engine == Sha256Engine::Libcrypto) return libcrypto_digest(pieces);
  return libsodium_digest(pieces);
}

}  // namespace morvik::core
