#pragma once

// Sealed identities and keychain files made the way an outside tool would
// make them, from fixed salts and nonces so that fixtures are reproducible.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "keychain/error.hpp"
#include "keychain/records.hpp"
#include "store/path.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::keychain::testing {

// The cheapest accepted cost.
inline KdfParamsV1 cheap_kdf() { return KdfParamsV1{"argon2id-v1.3", 8'192, 1, 1}; }

struct SealInput {
  cord::Bytes master_seed;
  std::string passphrase;
  core::HashValue root;
  core::UserId user;
  KdfParamsV1 kdf = cheap_kdf();
  cord::Bytes salt = cord::Bytes(16, 0x5a);
  cord::Bytes nonce = cord::Bytes(12, 0xa5);
  // Sealed instead of the encoded master seed, when present.
  std::optional<cord::Bytes> plaintext;
};

// Seals `master_seed` as a LocalIdentityV1. Throws if the parameters cannot
// be used (the fixture is broken, not the code under test).
SealedIdentityV1 seal_identity(const SealInput& input);

core::HashValue hash_of(std::uint8_t fill);
core::UserId user_of(std::uint8_t fill);

// Whole files, magic included, encoded without the keychain's writers.
cord::Bytes identity_file(const SealedIdentityV1& sealed);
cord::Bytes current_user_file(const CurrentUserV1& current);
cord::Bytes keychain_file(const KeychainRecords& records);

KeychainRecords records_of(std::vector<cord::Evolving<KeychainRecordV1>> records);
cord::Evolving<KeychainRecordV1> identity_record(SealedIdentityV1 sealed);
cord::Evolving<KeychainRecordV1> current_user_record(CurrentUserV1 current);

using store::testing::exists;
using store::testing::read_file;
using store::testing::TempDir;

// Creates the file's missing directories first.
void write_file(const store::Path& path, const cord::Bytes& bytes);

// Sets (or, with nullptr, unsets) an environment variable for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);

 private:
  store::testing::ScopedEnv env_;
};

// The reason an InvalidKeychainFile error gives; any other error is told
// apart by a text no reason has.
std::string reason_of(const KeychainError& e);

}  // namespace morvik::keychain::testing
