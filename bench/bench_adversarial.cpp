// Loading vaults shaped to be costly, beside an ordinary vault of the same
// record count: decoding the file and validating it with every record hash
// taken as verified (so no signature is checked), time and peak heap per
// record. Each shape should stay within a small factor of the ordinary
// vault at every size; a factor that grows with the size is a cost that
// grows faster than the vault. Shape names given as arguments measure
// only those shapes, beside the ordinary vault; numbers given as arguments
// are the sizes to measure instead of 1,000 and 10,000 records.

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "core/validate/pipeline.hpp"
#include "core/vault_file/vault_file.hpp"
#include "support/core/allocation_probe.hpp"
#include "support/core/sample_vaults.hpp"

namespace {

using namespace morvik;
using Clock = std::chrono::steady_clock;

struct Load {
  std::size_t records = 0;
  double seconds = 0;
  std::size_t peak_bytes = 0;
  std::size_t issues = 0;
};

Load load(testing::VaultShape shape, std::size_t size) {
  const auto vault = testing::sample_vault(shape, size);
  const cord::Bytes file = core::validate::encode_vault(vault.store()).value();
  const crypto::Crypto crypto;
  // A fully trusted verification cache: every record hash.
  std::set<core::HashValue> verified;
  for (const auto& record : core::vault_records(vault.store())) {
    verified.insert(crypto.hash(core::kRecordHashLabel, cord::serialize(record).value()));
  }
  const core::ratchet::Ratchet ratchet(vault.trusted_root());

  Load result;
  result.records = core::vault_records(vault.store()).size();
  // The decoded set takes the file over; reading it is not measured.
  cord::Bytes taken = file;
  testing::AllocationProbe probe;
  const auto start = Clock::now();
  const auto decoded = core::validate::decode_vault_records(std::move(taken)).value();
  auto report = core::validate::validate_vault_with_verified(decoded, ratchet, crypto, verified);
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.peak_bytes = probe.peak_bytes();
  result.issues = report.value().issues.size();
  return result;
}

void print(testing::VaultShape shape, const Load& measured, const Load& ordinary) {
  const double time = measured.seconds / static_cast<double>(measured.records);
  const double bytes = static_cast<double>(measured.peak_bytes) / static_cast<double>(measured.records);
  const double ordinary_time = ordinary.seconds / static_cast<double>(ordinary.records);
  const double ordinary_bytes = static_cast<double>(ordinary.peak_bytes) / static_cast<double>(ordinary.records);
  std::printf("%-28s %8zu %12.2f %8.2f %12.0f %8.2f %7zu\n", std::string(testing::shape_name(shape)).c_str(),
              measured.records, time * 1e6, time / ordinary_time, bytes, bytes / ordinary_bytes, measured.issues);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<testing::VaultShape> shapes;
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) {
    std::size_t size = 0;
    const char* end = argv[i] + std::strlen(argv[i]);
    if (auto [at, error] = std::from_chars(argv[i], end, size); error == std::errc{} && at == end && size > 0) {
      sizes.push_back(size);
      continue;
    }
    const auto shape = testing::shape_named(argv[i]);
    if (!shape) {
      std::fprintf(stderr, "unknown shape: %s\n", argv[i]);
      return 2;
    }
    shapes.push_back(*shape);
  }
  if (shapes.empty()) shapes.assign(testing::kVaultShapes.begin(), testing::kVaultShapes.end());
  if (sizes.empty()) sizes = {1'000, 10'000};
  for (std::size_t size : sizes) {
    const Load ordinary = load(testing::VaultShape::Ordinary, size);
    std::printf("%-28s %8s %12s %8s %12s %8s %7s\n", "shape", "records", "us/record", "x", "bytes/record", "x",
                "issues");
    print(testing::VaultShape::Ordinary, ordinary, ordinary);
    for (auto shape : shapes) {
      if (shape != testing::VaultShape::Ordinary) print(shape, load(shape, size), ordinary);
    }
    std::printf("\n");
  }
  return 0;
}
