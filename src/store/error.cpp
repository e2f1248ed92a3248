#include "store/error.hpp"

namespace morvik::store {

namespace {

// "{what} file {path}", or the after-image of {what} in the journal at {path}.
std::string file_named(std::string_view what, StoreError::Holder holder, const Path& path) {
  switch (holder) {
    case StoreError::Holder::TransactionJournal:
      return std::string(what) + " after-image in transaction file " + path.display();
    case StoreError::Holder::JoinCommitJournal:
      return std::string(what) + " after-image in join-commit file " + path.display();
    case StoreError::Holder::OwnFile: break;
  }
  return std::string(what) + " file " + path.display();
}

struct Display {
  std::string operator()(const StoreError::Io& e) const { return "I/O error at " + e.path.display() + ": " + e.error.text; }
  std::string operator()(const StoreError::VaultMissing& e) const {
    return "vault file is missing at " + e.path.display();
  }
  std::string operator()(const StoreError::InvalidVault& e) const {
    return file_named("vault", e.holder, e.path) + " is invalid: " + e.error.message();
  }
  std::string operator()(const StoreError::Cord& e) const { return "Cord error: " + e.error.message(); }
  std::string operator()(const StoreError::WorkspaceLocked& e) const {
    return "workspace lock is already held at " + e.path.display();
  }
  std::string operator()(const StoreError::InvalidRatchet& e) const {
    return file_named("ratchet", e.holder, e.path) + " is invalid: " + e.error.message();
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

StoreError held_by(StoreError error, StoreError::Holder holder) {
  if (auto* vault = std::get_if<StoreError::InvalidVault>(&error.value)) vault->holder = holder;
  if (auto* ratchet = std::get_if<StoreError::InvalidRatchet>(&error.value)) ratchet->holder = holder;
  return error;
}

std::string StoreError::message() const { return std::visit(Display{}, value); }

}  // namespace morvik::store
