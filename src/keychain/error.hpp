#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "cord/error.hpp"
#include "core/errors.hpp"
#include "core/ids.hpp"
#include "store/error.hpp"
#include "store/io_error.hpp"
#include "store/path.hpp"

namespace morvik::keychain {

// The one error of the identity keychain. Its texts are part of the contract:
// callers above choose exception classes by searching them for "keychain"
// and "identity".
struct KeychainError {
  struct Store {
    store::StoreError error;
  };
  struct Crypto {
    core::CryptoError error;
  };
  struct Cord {
    cord::CordError error;
  };
  struct Io {
    store::Path path;
    store::IoError error;
  };
  struct InconsistentIdentity {
    core::UserId user;
  };
  struct UnlockFailed {};
  struct PassphraseProvider {
    std::string text;
  };
  struct BackendUnavailable {
    std::string backend;
    std::string detail;
  };
  struct InvalidKdfParams {};
  struct Argon2 {
    std::string text;
  };
  struct NoSafeKeychain {
    core::UserId user;
  };
  struct InvalidKeychainFile {
    store::Path path;
    std::string reason;
  };
  struct LockTimeout {
    store::Path path;
  };

  std::variant<Store, Crypto, Cord, Io, InconsistentIdentity, UnlockFailed, PassphraseProvider, BackendUnavailable,
               InvalidKdfParams, Argon2, NoSafeKeychain, InvalidKeychainFile, LockTimeout>
      value;

  template <class Case>
  const Case* as() const {
    return std::get_if<Case>(&value);
  }

  std::string message() const;
};

template <class T>
using KeychainResult = std::expected<T, KeychainError>;

inline std::unexpected<KeychainError> fail(KeychainError e) { return std::unexpected(std::move(e)); }

template <class Case>
std::unexpected<KeychainError> fail(Case c) {
  return std::unexpected(KeychainError{std::move(c)});
}

inline KeychainError from_store(store::StoreError error) { return KeychainError{KeychainError::Store{std::move(error)}}; }

inline KeychainError invalid_file(store::Path path, std::string_view reason) {
  return KeychainError{KeychainError::InvalidKeychainFile{std::move(path), std::string(reason)}};
}

// The reasons of KeychainError::InvalidKeychainFile.
namespace reason {
inline constexpr std::string_view kMissingIdentityMagic = "missing identity magic prefix";
inline constexpr std::string_view kIdentityPathMismatch = "identity does not match its root and user path";
inline constexpr std::string_view kIdentityTooLarge = "identity exceeds the supported size";
inline constexpr std::string_view kIdentityWriteVerification = "identity write verification failed";
inline constexpr std::string_view kMissingCurrentUserMagic = "missing current-user magic prefix";
inline constexpr std::string_view kCurrentUserTooLarge = "current-user selector exceeds the supported size";
inline constexpr std::string_view kCurrentUserWriteVerification = "current-user write verification failed";
inline constexpr std::string_view kCombinedUnknownRecords =
    "combined keychain has unknown records with no safe split destination";
inline constexpr std::string_view kCombinedMultipleCurrentUsers =
    "combined keychain contains multiple current-user selectors";
inline constexpr std::string_view kCombinedForeignRoot = "combined keychain contains an identity for another root";
inline constexpr std::string_view kSplitIdentityConflictsCombined = "split identity conflicts with the combined keychain";
inline constexpr std::string_view kSplitCurrentUserConflictsCombined =
    "split current-user selector conflicts with the combined keychain";
inline constexpr std::string_view kSplitIdentityVerification = "split identity migration verification failed";
inline constexpr std::string_view kSplitCurrentUserVerification = "split current-user migration verification failed";
inline constexpr std::string_view kSplitIdentityConflictsLegacy =
    "split identity conflicts with the legacy user keychain";
inline constexpr std::string_view kLegacyRewriteVerification = "legacy keychain rewrite verification failed";
}  // namespace reason

}  // namespace morvik::keychain
