#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "cord/error.hpp"

namespace morvik::core {

// The failure of identifier derivation, record encoding and validation.
// Upper layers pick exception classes by searching the texts: keep them.
struct CoreError {
  // "cord error: {0}"
  struct Cord {
    cord::CordError error;
    bool operator==(const Cord&) const = default;
  };
  // "validation failed: {0}"
  struct Validation {
    std::string message;
    bool operator==(const Validation&) const = default;
  };

  // "out of memory": an allocation failed; nothing was decided about the
  // input. Made without allocating.
  struct OutOfMemory {
    bool operator==(const OutOfMemory&) const = default;
  };

  std::variant<Cord, Validation, OutOfMemory> value;

  static CoreError cord(cord::CordError error) { return CoreError{Cord{std::move(error)}}; }
  static CoreError validation(std::string message) { return CoreError{Validation{std::move(message)}}; }
  static CoreError out_of_memory() { return CoreError{OutOfMemory{}}; }

  std::string message() const;
  bool operator==(const CoreError&) const = default;
};

template <class T>
using CoreResult = std::expected<T, CoreError>;

inline std::unexpected<CoreError> fail(CoreError error) { return std::unexpected(std::move(error)); }

// The failure of identity derivation, content sealing and key wrapping.
// Case order is fixed.
struct CryptoError {
  // "core error: {0}"
  struct Core {
    CoreError error;
    bool operator==(const Core&) const = default;
  };
  // "invalid byte length for {what}: expected {expected}, got {got}"
  struct InvalidLength {
    std::size_t expected;
    std::size_t got;
    std::string_view what;
    bool operator==(const InvalidLength&) const = default;
  };
  struct InvalidEd25519PublicKey {
    bool operator==(const InvalidEd25519PublicKey&) const = default;
  };
  struct InvalidEd25519SecretKey {
    bool operator==(const InvalidEd25519SecretKey&) const = default;
  };
  struct InvalidEd25519Signature {
    bool operator==(const InvalidEd25519Signature&) const = default;
  };
  struct InvalidHpkePublicKey {
    bool operator==(const InvalidHpkePublicKey&) const = default;
  };
  struct InvalidHpkePrivateKey {
    bool operator==(const InvalidHpkePrivateKey&) const = default;
  };
  struct InvalidHpkeEncapsulatedKey {
    bool operator==(const InvalidHpkeEncapsulatedKey&) const = default;
  };
  // "HPKE operation failed: {0}", with the HPKE implementation's own text.
  struct Hpke {
    std::string message;
    bool operator==(const Hpke&) const = default;
  };
  struct Aead {
    bool operator==(const Aead&) const = default;
  };
  struct RatchetAuthentication {
    bool operator==(const RatchetAuthentication&) const = default;
  };
  // "from_os_rng failed: {0}": the operating system supplied no randomness.
  // Reported rather than aborting, since the process is the user's interpreter.
  struct Random {
    std::string message;
    bool operator==(const Random&) const = default;
  };

  std::variant<Core, InvalidLength, InvalidEd25519PublicKey, InvalidEd25519SecretKey, InvalidEd25519Signature,
               InvalidHpkePublicKey, InvalidHpkePrivateKey, InvalidHpkeEncapsulatedKey, Hpke, Aead,
               RatchetAuthentication, Random>
      value;

  std::string message() const;
  bool operator==(const CryptoError&) const = default;
};

template <class T>
using CryptoResult = std::expected<T, CryptoError>;

}  // namespace morvik::core
