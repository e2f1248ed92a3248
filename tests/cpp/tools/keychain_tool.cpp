// Seals and opens identity files for the Python cross-check against
// independent Argon2id and ChaCha20-Poly1305 implementations.
//
//   keychain_tool open FILE ROOT_HEX USER_HEX PASSPHRASE
//       prints the opened master seed in hex
//   keychain_tool seal FILE ROOT_HEX USER_HEX PASSPHRASE SEED_HEX SALT_HEX NONCE_HEX MEMORY_KIB ITERATIONS LANES
//       writes the sealed identity file

#include <cstdio>
#include <cstdlib>
#include <string>

#include "keychain/files.hpp"
#include "keychain/seal.hpp"
#include "support/keychain/fixtures.hpp"
#include "support/crypto/vectors.hpp"

namespace {

using namespace morvik;
using morvik::testing::from_hex;
using morvik::testing::to_hex;

int usage() {
  std::fprintf(stderr, "usage: keychain_tool open FILE ROOT USER PASSPHRASE | seal FILE ROOT USER PASSPHRASE SEED "
                       "SALT NONCE MEMORY_KIB ITERATIONS LANES\n");
  return 2;
}

int open_file(char** argv) {
  const store::Path path(argv[2]);
  const core::HashValue root{from_hex(argv[3])};
  const core::UserId user{core::HashValue{from_hex(argv[4])}};
  const std::string passphrase = argv[5];
  auto sealed = keychain::read_identity_at(path, root, user);
  if (!sealed || !*sealed) {
    std::fprintf(stderr, "%s\n", sealed ? "no identity file" : sealed.error().message().c_str());
    return 1;
  }
  auto local = keychain::open_local_identity(cord::Bytes(passphrase.begin(), passphrase.end()), root, user, **sealed);
  if (!local) {
    std::fprintf(stderr, "%s\n", local.error().message().c_str());
    return 1;
  }
  std::printf("%s\n", to_hex(cord::Bytes(local->master_seed.begin(), local->master_seed.end())).c_str());
  return 0;
}

int seal_file(char** argv) {
  keychain::testing::SealInput input;
  const store::Path path(argv[2]);
  input.root = core::HashValue{from_hex(argv[3])};
  input.user = core::UserId{core::HashValue{from_hex(argv[4])}};
  input.passphrase = argv[5];
  input.master_seed = from_hex(argv[6]);
  input.salt = from_hex(argv[7]);
  input.nonce = from_hex(argv[8]);
  input.kdf = keychain::KdfParamsV1{"argon2id-v1.3", static_cast<std::uint32_t>(std::stoul(argv[9])),
                                    static_cast<std::uint32_t>(std::stoul(argv[10])),
                                    static_cast<std::uint32_t>(std::stoul(argv[11]))};
  auto written = keychain::write_identity_exact(path, input.root, input.user, keychain::testing::seal_identity(input));
  if (!written) {
    std::fprintf(stderr, "%s\n", written.error().message().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "open") return open_file(argv);
  if (argc == 12 && std::string(argv[1]) == "seal") return seal_file(argv);
  return usage();
}
