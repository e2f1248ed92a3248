#pragma once

// Turning a request for a user's identity into an unlocked Identity: the
// keychain's files are read (and older layouts split) under the root's
// keychain lock; the passphrase is asked for and Argon2id runs only after
// the lock is released.

#include <concepts>
#include <optional>

#include "core/hash_value.hpp"
#include "crypto/identity.hpp"
#include "keychain/error.hpp"
#include "keychain/files.hpp"
#include "keychain/lock.hpp"
#include "keychain/migrate.hpp"
#include "keychain/passphrase.hpp"
#include "keychain/records.hpp"
#include "keychain/request.hpp"
#include "keychain/seal.hpp"

namespace morvik::keychain {

// A source of the passphrase of an unlock, asked once per unlock and only
// after the keychain lock is released. Statically dispatched: a keychain is
// generic over its provider.
template <class P>
concept PassphraseProvider = requires(const P& provider, const KeychainRequest& request) {
  { provider.request_passphrase(request) } -> std::same_as<KeychainResult<Passphrase>>;
};

// What a vault session needs of a keychain: the identity of the request's
// user, unlocked with the given cryptographic provider.
template <class K, class C>
concept IdentityKeychain = core::CryptoProvider<C> && requires(const K& keychain, const C& crypto,
                                                                const KeychainRequest& request) {
  { keychain.unlock_identity(crypto, request) } -> std::same_as<KeychainResult<crypto::Identity>>;
};

template <core::CryptoProvider C>
KeychainResult<crypto::Identity> identity_from_local(const C& crypto, const LocalIdentityV1& local) {
  auto identity = crypto::Identity::from_master_seed(crypto, local.master_seed);
  if (!identity) return fail(KeychainError::Crypto{std::move(identity.error())});
  return std::move(*identity);
}

// The sealed identity of the request's user, read under the root's lock
// after the older layouts have been brought up to date.
KeychainResult<SealedIdentityV1> read_sealed_identity(const store::Path& base, const core::HashValue& root,
                                                      const core::UserId& user);

// The current user of a root, if one was chosen. Only the combined keychain
// is migrated for this; a per-user keychain is not consulted.
KeychainResult<std::optional<CurrentUserV1>> read_current_user(const store::Path& base, const core::HashValue& root);

// The keychain: a base directory and a passphrase provider.
template <PassphraseProvider Provider>
class AutoKeychain {
 public:
  AutoKeychain(store::Path base_dir, Provider provider) : base_dir_(std::move(base_dir)), provider_(std::move(provider)) {}

  // The keychain that asks at the terminal, over the default base directory.
  static KeychainResult<AutoKeychain> default_interactive()
    requires std::same_as<Provider, StdinPassphraseProvider>
  {
    auto base = default_keychain_dir();
    if (!base) return fail(std::move(base.error()));
    return AutoKeychain(std::move(*base), StdinPassphraseProvider{});
  }

  const store::Path& base_dir() const { return base_dir_; }

  // The identity is not compared with the requested user here; the vault
  // session does that.
  template <core::CryptoProvider C>
  KeychainResult<crypto::Identity> unlock_identity(const C& crypto, const KeychainRequest& request) const {
    auto sealed = read_sealed_identity(base_dir_, request.root, request.user);
    if (!sealed) return fail(std::move(sealed.error()));
    std::optional<LocalIdentityV1> local;
    {
      auto passphrase = provider_.request_passphrase(request);
      if (!passphrase) return fail(std::move(passphrase.error()));
      auto opened = open_local_identity(*passphrase, request.root, request.user, *sealed);
      if (!opened) return fail(std::move(opened.error()));
      local = std::move(*opened);
    }  // the passphrase is wiped here
    return identity_from_local(crypto, *local);
  }

 private:
  store::Path base_dir_;
  Provider provider_;
};

// An identity source built from a bare master seed (an invitation's).
class FixedIdentityProvider {
 public:
  template <core::CryptoProvider C>
  static KeychainResult<FixedIdentityProvider> from_master_seed(const C& crypto, cord::ByteView seed) {
    auto identity = crypto::Identity::from_master_seed(crypto, seed);
    if (!identity) return fail(KeychainError::Crypto{std::move(identity.error())});
    return FixedIdentityProvider(identity->master_seed, cord::Bytes(identity->user_id.hash.bytes));
  }

  const crypto::SecretBytes& master_seed() const { return master_seed_; }
  const cord::Bytes& user_id() const { return user_id_; }

 private:
  FixedIdentityProvider(crypto::SecretBytes seed, cord::Bytes user_id)
      : master_seed_(std::move(seed)), user_id_(std::move(user_id)) {}

  crypto::SecretBytes master_seed_;
  cord::Bytes user_id_;
};

}  // namespace morvik::keychain
