#include "keychain/error.hpp"

#include "core/overloaded.hpp"

namespace morvik::keychain {

using core::Overloaded;

std::string KeychainError::message() const {
  return std::visit(
      Overloaded{
          [](const Store& e) { return "store error: " + e.error.message(); },
          [](const Crypto& e) { return "crypto error: " + e.error.message(); },
          [](const Cord& e) { return "Cord error: " + e.error.message(); },
          [](const Io& e) { return "I/O error at " + e.path.display() + ": " + e.error.text; },
          [](const InconsistentIdentity& e) {
            return "identity material is inconsistent for " + core::debug_string(e.user);
          },
          [](const UnlockFailed&) { return std::string("identity keychain unlock failed"); },
          [](const PassphraseProvider& e) { return "passphrase provider failed: " + e.text; },
          [](const BackendUnavailable& e) {
            return e.backend + " identity keychain backend is unavailable: " + e.detail;
          },
          [](const InvalidKdfParams&) { return std::string("invalid passphrase keychain parameters"); },
          [](const Argon2& e) { return "Argon2 operation failed: " + e.text; },
          [](const NoSafeKeychain& e) {
            return "no safe identity keychain is available for " + core::debug_string(e.user);
          },
          [](const InvalidKeychainFile& e) { return "keychain file " + e.path.display() + " is invalid: " + e.reason; },
          [](const LockTimeout& e) { return "timed out waiting for keychain lock at " + e.path.display(); },
      },
      value);
}

}  // namespace morvik::keychain
