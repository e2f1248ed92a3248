#include "frontend/error_mapping.hpp"

namespace morvik::frontend {

ExceptionDescription by_substring(std::string message) {
  const auto holds = [&](std::string_view word) { return message.find(word) != std::string::npos; };
  ExceptionClass kind = ExceptionClass::MorvikError;
  if (holds("validation failed")) {
    kind = ExceptionClass::ValidationError;
  } else if (holds("keychain") || holds("identity") || holds("ratchet state")) {
    kind = ExceptionClass::IdentityError;
  }
  return ExceptionDescription{kind, std::move(message)};
}

ExceptionDescription py_err(const FrontendError& error) { return by_substring(error.message()); }
ExceptionDescription py_err(const keychain::KeychainError& error) { return by_substring(error.message()); }
bool is_out_of_memory(const ops::OpsError& error) {
  const auto out_of_memory = [](const core::CoreError& e) {
    return std::holds_alternative<core::CoreError::OutOfMemory>(e.value);
  };
  if (const auto* core = error.as<ops::OpsError::Core>()) return out_of_memory(core->error);
  if (const auto* store = error.as<ops::OpsError::Store>()) {
    const auto* invalid = std::get_if<store::StoreError::InvalidVault>(&store->error.value);
    return invalid != nullptr && out_of_memory(invalid->error);
  }
  return false;
}

ExceptionDescription py_err(const ops::OpsError& error) {
  if (is_out_of_memory(error)) return ExceptionDescription{ExceptionClass::MemoryError, error.message()};
  return by_substring(error.message());
}
ExceptionDescription py_err(const core::CryptoError& error) { return by_substring(error.message()); }

ExceptionDescription secret_error(const ops::OpsError& error, std::string_view selector) {
  using E = ops::OpsError;
  using core::validate::SecretAccess;
  const auto about_secret = [&](ExceptionClass kind, std::string_view before, std::string_view after) {
    return ExceptionDescription{kind, std::string(before) + std::string(selector) + std::string(after)};
  };
  if (is_out_of_memory(error)) return py_err(error);
  if (error.as<E::Keychain>()) return ExceptionDescription{ExceptionClass::IdentityError, error.message()};
  if (error.as<E::ValidationFailed>()) return ExceptionDescription{ExceptionClass::ValidationError, error.message()};
  if (error.as<E::SecretMissing>()) return about_secret(ExceptionClass::NotFound, "secret ", " not found");
  if (const auto* e = error.as<E::SecretNotDecryptable>();
      (e && (e->access == SecretAccess::NotEncryptedForReader || e->access == SecretAccess::Unauthorized)) ||
      error.as<E::SecretNotWritable>()) {
    return about_secret(ExceptionClass::PermissionDenied, "not authorized for secret ", "");
  }
  if (error.as<E::SecretConflicted>()) return about_secret(ExceptionClass::ConflictError, "secret ", " is conflicted");
  return py_err(error);
}

}  // namespace morvik::frontend
