// Writes a vault file of a chosen shape and size, for trying what a reader
// makes of it:
//
//   core_vault_tool SHAPE RECORDS FILE   -> the trusted root, lowercase hex
//
// SHAPE is one of ordinary, ground-hash-bucket, revoked-grants,
// delegation-chain-deletions, repeated-appointments, dependent-deletions,
// groups-times-grants, tiny-records. A failure prints its text on stderr and exits with 1.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "core/vault_file/vault_file.hpp"
#include "support/cord/hex.hpp"
#include "support/core/sample_vaults.hpp"

namespace {

using namespace morvik;

int failed(const std::string& text) {
  std::cerr << text << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return failed("usage: core_vault_tool SHAPE RECORDS FILE");
  const auto shape = testing::shape_named(argv[1]);
  if (!shape) return failed(std::string("unknown shape: ") + argv[1]);
  std::size_t records = 0;
  try {
    records = std::stoul(argv[2]);
  } catch (const std::exception&) {
    return failed(std::string("not a record count: ") + argv[2]);
  }
  const auto vault = testing::sample_vault(*shape, records);
  auto file = core::validate::encode_vault(vault.store());
  if (!file) return failed(file.error().message());
  std::ofstream out(argv[3], std::ios::binary);
  out.write(reinterpret_cast<const char*>(file->data()), static_cast<std::streamsize>(file->size()));
  if (!out.flush()) return failed(std::string("cannot write ") + argv[3]);
  std::cout << testing::to_hex(vault.trusted_root().bytes) << "\n";
  return 0;
}
