#include "store/error.hpp"

namespace morvik::store {

namespace {

struct Display {
  std::string operator()(const StoreError::Io& e) const { return "I/O error at " + e.path.display() + ": " + e.error.text; }
  std::string operator()(const StoreError::VaultMissing& e) const {
    return "vault file is missing at " + e.path.display();
  }
  std::string operator()(const StoreError::InvalidVault& e) const {
    return "vault file " + e.path.display() + " is invalid: " + e.error.message();
  }
  std::string operator()(const StoreError::Cord& e) const { return "Cord error: " + e.error.message(); }
  std::string operator()(const StoreError::WorkspaceLocked& e) const {
    return "workspace lock is already held at " + e.path.display();
  }
  std::string operator()(const StoreError::InvalidRatchet& e) const {
    return "ratchet file " + e.path.display() + " is invalid: " + e.error.message();
  }
  std::string operator()(const StoreError::InvalidTransaction& e) const {
    return "transaction file " + e.path.display() + " is invalid: " + e.message;
  }
  std::string operator()(const StoreError::TrustRootMismatch& e) const {
    return "trust root mismatch: file has " + core::debug_string(e.file) + ", requested " +
           core::debug_string(e.requested);
  }
};

}  // namespace

std::string StoreError::message() const { return std::visit(Display{}, value); }

}  // namespace morvik::store
