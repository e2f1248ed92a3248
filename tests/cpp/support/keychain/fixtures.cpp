#include "support/keychain/fixtures.hpp"

#include <filesystem>
#include <stdexcept>

#include "crypto/aead.hpp"
#include "keychain/argon2id.hpp"

namespace morvik::keychain::testing {

namespace {

cord::Bytes with_magic(std::string_view magic_text, const cord::Bytes& body) {
  cord::Bytes bytes(magic_text.begin(), magic_text.end());
  bytes.push_back(0);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

template <class T>
cord::Bytes encode(const T& value) {
  auto bytes = cord::serialize(value);
  if (!bytes) throw std::runtime_error("fixture does not encode: " + bytes.error().message());
  return *bytes;
}

}  // namespace

SealedIdentityV1 seal_identity(const SealInput& input) {
  crypto::SecretArray<32> key;
  const cord::Bytes password(input.passphrase.begin(), input.passphrase.end());
  auto derived = argon2id(key.span(), Argon2idInput{password, input.salt, {}, {},
                                                    Argon2idCost{input.kdf.memory_kib, input.kdf.iterations,
                                                                 input.kdf.lanes}});
  if (!derived) throw std::runtime_error("fixture key derivation failed: " + derived.error());
  const cord::Bytes aad = encode(SealedIdentityAadV1{input.root, input.user});
  const cord::Bytes plaintext = input.plaintext.value_or(
      encode(LocalIdentityV1{crypto::SecretBytes(input.master_seed.begin(), input.master_seed.end())}));
  std::array<std::uint8_t, 12> nonce{};
  std::copy_n(input.nonce.begin(), std::min<std::size_t>(12, input.nonce.size()), nonce.begin());
  auto ciphertext = crypto::aead_seal(key.span(), nonce, aad, plaintext);
  if (!ciphertext) throw std::runtime_error("fixture sealing failed");
  return SealedIdentityV1{input.root, input.user, input.kdf, input.salt, input.nonce, std::move(*ciphertext)};
}

core::HashValue hash_of(std::uint8_t fill) { return core::HashValue{cord::Bytes(32, fill)}; }
core::UserId user_of(std::uint8_t fill) { return core::UserId{hash_of(fill)}; }

cord::Bytes identity_file(const SealedIdentityV1& sealed) {
  return with_magic("morvik-identity", encode(IdentityStore(std::in_place_index<0>, sealed)));
}
cord::Bytes current_user_file(const CurrentUserV1& current) {
  return with_magic("morvik-current-user", encode(CurrentUserStore(std::in_place_index<0>, current)));
}
cord::Bytes keychain_file(const KeychainRecords& records) {
  return with_magic("morvik-keychain", encode(KeychainStore(std::in_place_index<0>, records)));
}

KeychainRecords records_of(std::vector<cord::Evolving<KeychainRecordV1>> records) {
  KeychainRecords set;
  for (auto& record : records) set.insert(std::move(record));
  return set;
}
cord::Evolving<KeychainRecordV1> identity_record(SealedIdentityV1 sealed) {
  return cord::Evolving<KeychainRecordV1>(KeychainRecordV1(keychain_record::Identity{std::move(sealed)}));
}
cord::Evolving<KeychainRecordV1> current_user_record(CurrentUserV1 current) {
  return cord::Evolving<KeychainRecordV1>(KeychainRecordV1(keychain_record::CurrentUser{std::move(current)}));
}

void write_file(const store::Path& path, const cord::Bytes& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path.bytes()).parent_path());
  store::testing::write_file(path, bytes);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) {
  if (value) {
    env_.set(name, value);
  } else {
    env_.unset(name);
  }
}

std::string reason_of(const KeychainError& e) {
  const auto* invalid = e.as<KeychainError::InvalidKeychainFile>();
  return invalid ? invalid->reason : "not InvalidKeychainFile: " + e.message();
}

}  // namespace morvik::keychain::testing
