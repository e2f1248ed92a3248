// Validation of whole vaults, cold (every signature checked) and warm (every
// record hash already verified), each beside the cost no validator can
// avoid, measured in the same run: one Ed25519 verification per distinct
// signature when cold; when warm, one SHA-256 pass over the file and one
// canonical decoding of it. Peak heap of decoding the file and validating
// it cold is printed beside the file's size.

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>

#include "core/sha256.hpp"
#include "core/validate/pipeline.hpp"
#include "core/vault_file/vault_file.hpp"
#include "support/core/allocation_probe.hpp"
#include "support/core/sample_vaults.hpp"

namespace {

using namespace morvik;
using testing::TestVault;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds per Ed25519 verification by libsodium itself: distinct keys and
// signatures over messages as long as a record, each checked once, as a
// validation meets them.
double one_verify(std::size_t message_length) {
  constexpr int kSignatures = 2000;
  struct Signed {
    unsigned char pk[crypto_sign_PUBLICKEYBYTES];
    unsigned char sig[crypto_sign_BYTES];
    std::vector<unsigned char> message;
  };
  std::vector<Signed> samples(kSignatures);
  for (int i = 0; i < kSignatures; ++i) {
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    auto& sample = samples[static_cast<std::size_t>(i)];
    sample.message.assign(message_length, static_cast<unsigned char>(i));
    crypto_sign_keypair(sample.pk, sk);
    crypto_sign_detached(sample.sig, nullptr, sample.message.data(), sample.message.size(), sk);
  }
  int good = 0;
  const auto start = Clock::now();
  for (const auto& sample : samples) {
    good += crypto_sign_verify_detached(sample.sig, sample.message.data(), sample.message.size(), sample.pk) == 0;
  }
  const double each = seconds_since(start) / kSignatures;
  if (good != kSignatures) std::fprintf(stderr, "verification failed\n");
  return each;
}

// Seconds per byte of the SHA-256 that the domain hash uses.
double sha256_per_byte() {
  const cord::Bytes buffer(64 << 20, 0x5A);
  const cord::ByteView whole[] = {buffer};
  const auto start = Clock::now();
  const core::Sha256Digest digest = core::sha256(whole);
  return seconds_since(start) / static_cast<double>(buffer.size()) + digest[0] * 0.0;
}

void run(std::size_t total, double hash_per_byte) {
  const TestVault vault = testing::sample_vault(testing::VaultShape::Ordinary, total);
  const cord::Bytes file = core::validate::encode_vault(vault.store()).value();
  const std::size_t records = core::vault_records(vault.store()).size();
  const double verify_each = one_verify(file.size() / records);
  const core::ratchet::Ratchet ratchet(vault.trusted_root());
  const crypto::Crypto crypto;

  std::size_t peak_bytes = 0;
  double decode_seconds = 0;
  double cold_seconds = 0;
  std::set<core::HashValue> verified;
  std::size_t issues = 0;
  {
    // The decoded set takes the file over; reading it is not measured.
    cord::Bytes taken = file;
    testing::AllocationProbe probe;
    auto start = Clock::now();
    auto decoded = core::validate::decode_vault_records(std::move(taken)).value();
    decode_seconds = seconds_since(start);
    start = Clock::now();
    auto cold = core::validate::validate_vault_with_verified(decoded, ratchet, crypto, {}).value();
    cold_seconds = seconds_since(start);
    peak_bytes = probe.peak_bytes();
    verified = cold.state.verified_record_hashes();
    issues = cold.issues.size();
  }

  auto decoded = core::validate::decode_vault_records(file).value();
  const auto start = Clock::now();
  auto warm = core::validate::validate_vault_with_verified(decoded, ratchet, crypto, verified).value();
  const double warm_seconds = seconds_since(start);

  const double verify_bound = static_cast<double>(records) * verify_each;
  const double hash_bound = static_cast<double>(file.size()) * hash_per_byte;
  std::printf("%7zu records, %6.1f MB, %zu issues, %zu conflicts\n", records, file.size() / 1e6,
              issues + warm.issues.size(), warm.state.conflicts.size());
  std::printf("  cold %8.3f s   signatures x verify %8.3f s   ratio %.2f   (one verify %.1f us)\n", cold_seconds,
              verify_bound, cold_seconds / verify_bound, verify_each * 1e6);
  std::printf("  warm %8.3f s   bytes x sha-256     %8.3f s   ratio %.2f\n", warm_seconds, hash_bound,
              warm_seconds / hash_bound);
  std::printf("                  bytes x decoding    %8.3f s   ratio %.2f\n", decode_seconds,
              warm_seconds / decode_seconds);
  std::printf("                  decode + sha-256    %8.3f s   ratio %.2f\n", decode_seconds + hash_bound,
              warm_seconds / (decode_seconds + hash_bound));
  std::printf("  peak heap of decode and cold validation %.1f MB, %.2f x the file\n", peak_bytes / 1e6,
              static_cast<double>(peak_bytes) / static_cast<double>(file.size()));
}

}  // namespace

int main() {
  if (sodium_init() < 0) return 1;
  const double hash_per_byte = sha256_per_byte();
  std::printf("sha-256 %.0f MB/s\n", 1e-6 / hash_per_byte);
  for (std::size_t total : {1'000, 10'000, 100'000}) run(total, hash_per_byte);
  return 0;
}
