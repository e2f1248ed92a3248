#pragma once

// Where the passphrase of an unlock comes from. The keychain is generic over
// its provider: each has `request_passphrase(request)`.

#include <string_view>

#include "crypto/secret.hpp"
#include "keychain/error.hpp"
#include "keychain/request.hpp"

namespace morvik::keychain {

// Wiped when released. Passed to the key derivation exactly as given.
using Passphrase = crypto::SecretBytes;

// Asks the person at the controlling terminal, naming the user, the vault and
// the reason.
class StdinPassphraseProvider {
 public:
  KeychainResult<Passphrase> request_passphrase(const KeychainRequest& request) const;
};

// A passphrase the caller supplied beforehand; the request is not consulted.
class StaticPassphraseProvider {
 public:
  explicit StaticPassphraseProvider(std::string_view passphrase) : passphrase_(passphrase.begin(), passphrase.end()) {}

  KeychainResult<Passphrase> request_passphrase(const KeychainRequest&) const { return passphrase_; }

 private:
  Passphrase passphrase_;
};

}  // namespace morvik::keychain
