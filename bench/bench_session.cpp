// Vault sessions on workspaces of 100, 10,000 and 100,000 secret records,
// each sealed to 10 readers: a cold load (every signature checked), a load
// that trusts the current user's verification cache, a secret read and a
// secret write. Each is printed beside the cost nobody can avoid, measured in
// the same run: one Ed25519 verification per record when cold, one SHA-256
// pass over the vault file with a cache, one HPKE open for a read, and for a
// write its own validation of the vault (the session's records, every hash
// verified) plus the seven flushes of its commit; and, within the write, the
// encoding of the two files it commits.

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/sha256.hpp"
#include "core/vault_file/vault_file.hpp"
#include "crypto/content.hpp"
#include "crypto/key_wrap.hpp"
#include "ops/session.hpp"
#include "ops/transaction.hpp"
#include "ops/validation.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_locks.hpp"
#include "support/core/selectors.hpp"
#include "support/core/vault_factory.hpp"
#include "support/ops/secrets_vault.hpp"
#include "support/ops/workspace_factory.hpp"
#include "support/store/fixtures.hpp"

namespace {

using namespace morvik;
using morvik::testing::kCrypto;
using morvik::testing::TestVault;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kWriterSeed = 2;
constexpr std::uint8_t kFirstReaderSeed = 3;
constexpr int kReaders = 10;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The median of `runs` timings of `body`.
double median_seconds(int runs, const std::function<void()>& body) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    body();
    times.push_back(seconds_since(start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

template <class T>
T must(T result, const char* what) {
  if (!result) {
    std::fprintf(stderr, "%s: %s\n", what, result.error().message().c_str());
    std::exit(1);
  }
  return result;
}

// A writer and ten readers of everything under "app", and `secrets` records
// of secrets sealed to all of them (placeholder ciphertexts, as validation
// never opens them).
TestVault build_vault(std::size_t secrets) {
  TestVault vault;
  const auto& writer = vault.add_user(kWriterSeed, 1);
  vault.add(vault.root(), morvik::testing::grant_body(morvik::testing::id_seed(1), morvik::testing::user_ref(writer),
                                                      morvik::testing::write_permission(morvik::testing::prefix({"app"})), 1));
  std::vector<core::UserId> readers;
  for (int i = 0; i < kReaders; ++i) {
    const auto& reader = vault.add_user(static_cast<std::uint8_t>(kFirstReaderSeed + i), 1);
    readers.push_back(reader.user_id);
    vault.add(vault.root(),
              morvik::testing::grant_body(morvik::testing::id_seed(static_cast<std::uint8_t>(10 + i)),
                                          morvik::testing::user_ref(reader),
                                          morvik::testing::read_permission(morvik::testing::prefix({"app"})), 1));
  }
  std::sort(readers.begin(), readers.end());
  const auto payload = morvik::testing::payload_for(readers);
  for (std::size_t i = 0; i < secrets; ++i) {
    vault.add(writer, morvik::testing::secret_body(morvik::testing::secret({"app", "s" + std::to_string(i)}), payload,
                                                   2 + i % 7));
  }
  return vault;
}

// Ed25519 verifications of distinct keys over record-sized messages.
double one_verify() {
  constexpr int kSignatures = 2000;
  std::vector<std::array<unsigned char, crypto_sign_PUBLICKEYBYTES>> keys(kSignatures);
  std::vector<std::array<unsigned char, crypto_sign_BYTES>> signatures(kSignatures);
  std::vector<unsigned char> message(600, 0x42);
  for (int i = 0; i < kSignatures; ++i) {
    unsigned char secret[crypto_sign_SECRETKEYBYTES];
    message[0] = static_cast<unsigned char>(i);
    crypto_sign_keypair(keys[i].data(), secret);
    crypto_sign_detached(signatures[i].data(), nullptr, message.data(), message.size(), secret);
  }
  const auto start = Clock::now();
  for (int i = 0; i < kSignatures; ++i) {
    message[0] = static_cast<unsigned char>(i);
    if (crypto_sign_verify_detached(signatures[i].data(), message.data(), message.size(), keys[i].data()) != 0) {
      std::fprintf(stderr, "verification failed\n");
    }
  }
  return seconds_since(start) / kSignatures;
}

double sha256_of(const cord::Bytes& bytes) {
  const cord::ByteView whole[] = {bytes};
  return median_seconds(5, [&] { (void)core::sha256(whole); });
}

double one_hpke_open(const crypto::Identity& reader) {
  const auto key = crypto::ContentKey::generate().value();
  const cord::Bytes context(200, 0x33);
  const auto wrapped = crypto::wrap_content_key(reader.encryption_public_key, context, context, key).value();
  constexpr int kOpens = 200;
  const auto start = Clock::now();
  for (int i = 0; i < kOpens; ++i) {
    (void)crypto::unwrap_content_key(reader.encryption_keypair, wrapped.encapsulated_key, context, context,
                                     wrapped.wrapped_key)
        .value();
  }
  return seconds_since(start) / kOpens;
}

// The seven flushes of a commit: the journal (both after-images), the
// ratchet and the vault, each written and flushed with its directory, then
// the journal removed and the directory flushed once more.
double protocol_flushes(const store::Path& dir, std::size_t vault, std::size_t ratchet) {
  const cord::Bytes bytes(vault + ratchet, 0x5A);
  const std::string path = (dir / "flush.tmp").bytes();
  auto flush_dir = [&] {
    const int dir_fd = ::open(dir.bytes().c_str(), O_RDONLY | O_DIRECTORY);
    ::fsync(dir_fd);
    ::close(dir_fd);
  };
  return median_seconds(5, [&] {
    for (const std::size_t size : {vault + ratchet, ratchet, vault}) {
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (::write(fd, bytes.data(), size) != static_cast<ssize_t>(size)) std::fprintf(stderr, "short write\n");
      ::fsync(fd);
      ::close(fd);
      flush_dir();
    }
    ::unlink(path.c_str());
    flush_dir();
  });
}

void run(std::size_t secrets) {
  const TestVault vault = build_vault(secrets);
  const ops::testing::TestWorkspace workspace(vault);
  const auto reader = morvik::testing::identity(kFirstReaderSeed);
  const auto writer = morvik::testing::identity(kWriterSeed);
  const auto read_selector = morvik::testing::secret({"app", "read"});
  workspace.set_secret(writer, read_selector, "a value to read");
  const cord::Bytes vault_bytes = store::testing::read_file(workspace.paths().vault_path);
  const std::size_t ratchet_size = store::testing::read_file(workspace.ratchet_path()).size();
  const std::size_t records = core::vault_records(vault.store()).size() + 1;
  const int runs = secrets > 10'000 ? 3 : 7;

  const double cold = median_seconds(runs, [&] { must(ops::LockedSession::load(workspace.paths(), kCrypto), "load"); });
  workspace.set_current_user(reader.user_id);
  (void)workspace.open_as(reader);  // leaves the reader's cache behind
  const double cached = median_seconds(runs, [&] {
    const auto session = must(ops::LockedSession::load(workspace.paths(), kCrypto), "load");
    if (!session->verified_by) std::fprintf(stderr, "the cache was not used\n");
  });

  const ops::UnlockedSession reading = workspace.open_as(reader);
  const double read = median_seconds(201, [&] { must(reading.get_secret(kCrypto, read_selector), "read"); });

  ops::UnlockedSession writing = workspace.open_as(writer);
  int n = 0;
  const double write = median_seconds(runs, [&] {
    must(writing.set_secret(kCrypto, morvik::testing::secret({"app", "written"}),
                            morvik::testing::bytes_of("value " + std::to_string(n++))),
         "write");
  });
  const auto verified = writing.state().verified_record_hashes();
  const double validation = median_seconds(runs, [&] {
    must(ops::validate_records(writing.session().records, writing.session().ratchet, kCrypto, verified), "validate");
  });
  // The two after-images a write encodes, from the session's records and
  // ratchet as they stand.
  const double vault_encoding = median_seconds(runs, [&] {
    must(core::validate::encode_vault_records(writing.session().records), "encode vault");
  });
  const double ratchet_encoding =
      median_seconds(runs, [&] { must(store::encode_ratchet(writing.session().ratchet), "encode ratchet"); });
  // The commit journal alone, moving both files between the images before
  // and after one more write, back and forth.
  const cord::Bytes vault_before = *writing.session().vault_bytes;
  const cord::Bytes ratchet_before = store::testing::read_file(workspace.ratchet_path());
  must(writing.set_secret(kCrypto, morvik::testing::secret({"app", "written"}), morvik::testing::bytes_of("last")),
       "write");
  const cord::Bytes vault_after = *writing.session().vault_bytes;
  const cord::Bytes ratchet_after = store::testing::read_file(workspace.ratchet_path());
  bool forth = false;
  const double journal = median_seconds(runs, [&] {
    forth = !forth;
    auto state_lock = must(store::acquire_root_state_lock(workspace.paths(), workspace.trusted_root()), "lock");
    auto workspace_lock = must(store::acquire_workspace_lock(workspace.paths()), "lock");
    must(ops::commit_after_images_locked(workspace.paths(), workspace.trusted_root(), kCrypto, ops::kVaultMutation,
                                         forth ? vault_after : vault_before, forth ? ratchet_after : ratchet_before,
                                         forth ? vault_before : vault_after, forth ? ratchet_before : ratchet_after),
         "commit");
  });

  const double verify_bound = static_cast<double>(records) * one_verify();
  const double hash_bound = sha256_of(vault_bytes);
  const double open_bound = one_hpke_open(reader);
  const double flush_bound = protocol_flushes(workspace.dir(), vault_bytes.size(), ratchet_size);
  std::printf("%7zu records, vault %.1f MB, ratchet %.1f MB\n", records, vault_bytes.size() / 1e6, ratchet_size / 1e6);
  std::printf("  cold load     %9.3f ms   signatures x verify       %9.3f ms   ratio %5.2f\n", cold * 1e3,
              verify_bound * 1e3, cold / verify_bound);
  std::printf("  cached load   %9.3f ms   vault bytes x sha-256     %9.3f ms   ratio %5.2f\n", cached * 1e3,
              hash_bound * 1e3, cached / hash_bound);
  std::printf("  get_secret    %9.3f ms   one hpke open             %9.3f ms   ratio %5.2f\n", read * 1e3,
              open_bound * 1e3, read / open_bound);
  std::printf("  set_secret    %9.3f ms   validation + 7 flushes    %9.3f ms   ratio %5.2f\n", write * 1e3,
              (validation + flush_bound) * 1e3, write / (validation + flush_bound));
  std::printf("    (a validation with every hash verified %.3f ms; the commit journal alone %.3f ms)\n",
              validation * 1e3, journal * 1e3);
  std::printf("    (encoding the vault file %.3f ms, the ratchet file %.3f ms)\n", vault_encoding * 1e3,
              ratchet_encoding * 1e3);
  std::printf("  cached load / warm validation                                        ratio %5.2f\n",
              cached / validation);
}

}  // namespace

// The numbers of secrets to run, from the command line; 100, 10,000 and
// 100,000 without any.
int main(int argc, char** argv) {
  if (sodium_init() < 0) return 1;
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::stoul(argv[i]));
  if (sizes.empty()) sizes = {100, 10'000, 100'000};
  for (std::size_t secrets : sizes) run(secrets);
  return 0;
}
