// SHA-256 by libcrypto and by libsodium, side by side on inputs from the
// 38 bytes of an empty domain hash to 64 MiB, and the domain hash of a
// record-sized input by the engine the system chose on this machine.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "core/domain_hash.hpp"
#include "core/sha256.hpp"

namespace {

using namespace morvik;
using Clock = std::chrono::steady_clock;

// Median seconds per call over `runs` timings of `calls` calls each.
double per_call(std::size_t calls, const std::function<void()>& body) {
  constexpr int kRuns = 7;
  std::vector<double> seconds;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = Clock::now();
    for (std::size_t i = 0; i < calls; ++i) body();
    seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(calls));
  }
  std::nth_element(seconds.begin(), seconds.begin() + kRuns / 2, seconds.end());
  return seconds[kRuns / 2];
}

const char* engine_name(core::Sha256Engine engine) {
  return engine == core::Sha256Engine::Libcrypto ? "libcrypto" : "libsodium";
}

bool cpu_has_sha_instructions() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("sha");
#else
  return false;
#endif
}

}  // namespace

int main() {
  const cord::ByteView probe[] = {core::text_bytes("abc")};
  if (!core::sha256_by(core::Sha256Engine::Libcrypto, probe)) {
    std::fprintf(stderr, "libcrypto offers no SHA-256 here\n");
    return 1;
  }
  std::printf("CPU with SHA instructions: %s; the domain hash uses %s\n", cpu_has_sha_instructions() ? "yes" : "no",
              engine_name(core::sha256_engine()));
  std::printf("%10s  %12s %9s  %12s %9s  %7s\n", "bytes", "libcrypto", "GB/s", "libsodium", "GB/s", "speedup");
  for (const std::size_t size : {38u, 200u, 1024u, 64u << 10, 64u << 20}) {
    const cord::Bytes input(size, 0x5A);
    const cord::ByteView whole[] = {input};
    // About 64 MiB hashed per timing.
    const std::size_t calls = std::max<std::size_t>(1, (64u << 20) / size / 8);
    double seconds[2];
    for (const auto engine : {core::Sha256Engine::Libcrypto, core::Sha256Engine::Libsodium}) {
      seconds[static_cast<int>(engine)] = per_call(calls, [&] { (void)core::sha256_by(engine, whole); });
    }
    const auto rate = [&](double s) { return static_cast<double>(size) / s / 1e9; };
    std::printf("%10zu  %9.0f ns %9.2f  %9.0f ns %9.2f  %6.2fx\n", size, seconds[0] * 1e9, rate(seconds[0]),
                seconds[1] * 1e9, rate(seconds[1]), seconds[1] / seconds[0]);
  }
  const cord::Bytes record(200, 0x42);
  const double domain_hash = per_call(200'000, [&] { (void)core::domain_hash(core::kRecordHashLabel, record); });
  std::printf("domain hash of a 200-byte record: %.0f ns\n", domain_hash * 1e9);
  return 0;
}
