#pragma once

#include <expected>
#include <string>
#include <variant>

#include "cord/error.hpp"
#include "store/io_error.hpp"
#include "store/path.hpp"

namespace morvik::store {

// The one error of the local-state store. Its texts are part of the
// contract: callers above choose exception classes by searching them.
struct StoreError {
  struct Io {
    Path path;
    IoError error;
  };
  struct VaultMissing {
    Path path;
  };
  struct Cord {
    cord::CordError error;
  };
  struct WorkspaceLocked {
    Path path;
  };
  struct InvalidRatchet {
    Path path;
    cord::CordError error;
  };
  struct InvalidTransaction {
    Path path;
    std::string message;
  };

  std::variant<Io, VaultMissing, Cord, WorkspaceLocked, InvalidRatchet, InvalidTransaction> value;

  template <class Case>
  const Case* as() const {
    return std::get_if<Case>(&value);
  }

  std::string message() const;
};

template <class T>
using StoreResult = std::expected<T, StoreError>;

inline std::unexpected<StoreError> fail(StoreError e) { return std::unexpected(std::move(e)); }

inline StoreError io_error_at(Path path, IoError error) {
  return StoreError{StoreError::Io{std::move(path), std::move(error)}};
}

}  // namespace morvik::store
