#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <variant>

#include "core/errors.hpp"
#include "core/hash_value.hpp"
#include "cord/error.hpp"
#include "store/io_error.hpp"
#include "store/path.hpp"

namespace morvik::store {

// The one error of the local-state store. Its texts are part of the
// contract: callers above choose exception classes by searching them.
struct StoreError {
  // Where an invalid vault or ratchet was found: in its own file, or as the
  // after-image a journal holds for it.
  enum class Holder : std::uint8_t { OwnFile, TransactionJournal, JoinCommitJournal };

  struct Io {
    Path path;
    IoError error;
    bool operator==(const Io&) const = default;
  };
  struct VaultMissing {
    Path path;
    bool operator==(const VaultMissing&) const = default;
  };
  struct InvalidVault {
    Path path;
    core::CoreError error;
    Holder holder = Holder::OwnFile;
    bool operator==(const InvalidVault&) const = default;
  };
  struct Cord {
    cord::CordError error;
    bool operator==(const Cord&) const = default;
  };
  struct WorkspaceLocked {
    Path path;
    bool operator==(const WorkspaceLocked&) const = default;
  };
  struct InvalidRatchet {
    Path path;
    cord::CordError error;
    Holder holder = Holder::OwnFile;
    bool operator==(const InvalidRatchet&) const = default;
  };
  struct InvalidTransaction {
    Path path;
    std::string message;
    bool operator==(const InvalidTransaction&) const = default;
  };
  struct TrustRootMismatch {
    core::HashValue file;
    core::HashValue requested;
    bool operator==(const TrustRootMismatch&) const = default;
  };

  std::variant<Io, VaultMissing, InvalidVault, Cord, WorkspaceLocked, InvalidRatchet, InvalidTransaction,
               TrustRootMismatch>
      value;

  template <class Case>
  const Case* as() const {
    return std::get_if<Case>(&value);
  }

  std::string message() const;
  bool operator==(const StoreError&) const = default;
};

// `error`, with an invalid vault or ratchet in it reported as the after-image
// a journal of the kind `holder` holds.
StoreError held_by(StoreError error, StoreError::Holder holder);

template <class T>
using StoreResult = std::expected<T, StoreError>;

inline std::unexpected<StoreError> fail(StoreError e) { return std::unexpected(std::move(e)); }

inline StoreError io_error_at(Path path, IoError error) {
  return StoreError{StoreError::Io{std::move(path), std::move(error)}};
}

// StoreError::Io carrying one of the store's own messages of the kind
// invalid data (a size limit, a failed read-back).
inline StoreError invalid_data_at(Path path, std::string text) {
  return io_error_at(std::move(path), IoError::with_message(IoErrorKind::InvalidData, std::move(text)));
}

}  // namespace morvik::store
