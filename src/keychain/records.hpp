#pragma once

// The records kept in keychain files, in their wire order.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "core/hash_value.hpp"
#include "core/ids.hpp"
#include "cord/cord.hpp"
#include "crypto/secret.hpp"

namespace morvik::keychain {

// Passphrase key derivation parameters.
struct KdfParamsV1 {
  std::string algorithm;
  std::uint32_t memory_kib = 0;
  std::uint32_t iterations = 0;
  std::uint32_t lanes = 0;

  static constexpr auto cord_fields() {
    return std::tuple{&KdfParamsV1::algorithm, &KdfParamsV1::memory_kib, &KdfParamsV1::iterations,
                      &KdfParamsV1::lanes};
  }
  auto operator<=>(const KdfParamsV1&) const = default;
};

// One user's master seed, sealed under a passphrase-derived key. Lengths are
// checked when it is opened, not when it is decoded.
struct SealedIdentityV1 {
  core::HashValue root;
  core::UserId user;
  KdfParamsV1 kdf;
  cord::Bytes salt;
  cord::Bytes nonce;
  cord::Bytes ciphertext;  // tag appended

  static constexpr auto cord_fields() {
    return std::tuple{&SealedIdentityV1::root, &SealedIdentityV1::user,  &SealedIdentityV1::kdf,
                      &SealedIdentityV1::salt, &SealedIdentityV1::nonce, &SealedIdentityV1::ciphertext};
  }
  auto operator<=>(const SealedIdentityV1&) const = default;
};

// Associated data of the sealing: binds the seed to its root and user.
struct SealedIdentityAadV1 {
  core::HashValue root;
  core::UserId user;

  static constexpr auto cord_fields() { return std::tuple{&SealedIdentityAadV1::root, &SealedIdentityAadV1::user}; }
};

// The opened content of a sealed identity; its buffer is wiped on release.
struct LocalIdentityV1 {
  crypto::SecretBytes master_seed;

  static constexpr auto cord_fields() { return std::tuple{&LocalIdentityV1::master_seed}; }
};

// The user chosen for a root, with the reference it was chosen under.
struct CurrentUserV1 {
  core::UserId user;
  std::optional<std::string> selector;

  static constexpr auto cord_fields() { return std::tuple{&CurrentUserV1::user, &CurrentUserV1::selector}; }
  auto operator<=>(const CurrentUserV1&) const = default;
};

namespace keychain_record {
struct IdentityTag {};
struct CurrentUserTag {};
using Identity = cord::Tagged<IdentityTag, SealedIdentityV1>;
using CurrentUser = cord::Tagged<CurrentUserTag, CurrentUserV1>;
}  // namespace keychain_record

// One record of the older combined and per-user keychain files.
using KeychainRecordV1 = std::variant<keychain_record::Identity, keychain_record::CurrentUser>;
using KeychainRecords = cord::Set<cord::Evolving<KeychainRecordV1>>;

// Top-level types of the keychain files, each with the single variant 0.
struct IdentityStoreV1Tag {};
struct CurrentUserStoreV1Tag {};
struct KeychainStoreV1Tag {};
using IdentityStore = std::variant<cord::Tagged<IdentityStoreV1Tag, SealedIdentityV1>>;
using CurrentUserStore = std::variant<cord::Tagged<CurrentUserStoreV1Tag, CurrentUserV1>>;
using KeychainStore = std::variant<cord::Tagged<KeychainStoreV1Tag, KeychainRecords>>;

}  // namespace morvik::keychain
