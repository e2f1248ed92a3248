#pragma once

// Which Python exception an error becomes, as plain data: choosing needs no
// interpreter, so it can run while the interpreter lock is released and the
// exception object is made only once the lock is held again.

#include <string>
#include <string_view>

#include "core/errors.hpp"
#include "frontend/error.hpp"
#include "keychain/error.hpp"
#include "ops/error.hpp"

namespace morvik::frontend {

// The module's exception classes; MorvikError is the base of the others.
// MemoryError is Python's own, for an allocation that failed: no text
// describes that better, and no class of the module should stand for it.
enum class ExceptionClass {
  MorvikError,
  NotFound,
  PermissionDenied,
  ConflictError,
  ValidationError,
  IdentityError,
  MemoryError
};

// An exception to raise: its class and its one argument.
struct ExceptionDescription {
  ExceptionClass kind;
  std::string message;

  bool operator==(const ExceptionDescription&) const = default;
};

// The substring rule over a finished text: "validation failed" gives
// ValidationError; else "keychain", "identity" or "ratchet state" gives
// IdentityError; else MorvikError. Case-sensitive, the text unchanged.
ExceptionDescription by_substring(std::string message);

// Whether the error is an allocation that failed, wherever it was wrapped.
bool is_out_of_memory(const ops::OpsError& error);

// The substring rule over an error's display text; an allocation that
// failed is MemoryError.
ExceptionDescription py_err(const FrontendError& error);
ExceptionDescription py_err(const keychain::KeychainError& error);
ExceptionDescription py_err(const ops::OpsError& error);
ExceptionDescription py_err(const core::CryptoError& error);

// The error of an operation on one secret: the cases a caller acts on name
// the secret by its canonical text `selector`; the rest follow py_err.
ExceptionDescription secret_error(const ops::OpsError& error, std::string_view selector);

}  // namespace morvik::frontend
