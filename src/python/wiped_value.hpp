#pragma once

// A secret value built here to be stored: it holds the primary value and
// every field, so it is overwritten with zeros when it goes. The write it
// is handed to only borrows it.

#include <utility>

#include "core/payloads.hpp"
#include "crypto/secret.hpp"

namespace morvik::python {

class WipedSecretValue {
 public:
  explicit WipedSecretValue(core::SecretValueV1 value) : value_(std::move(value)) {}
  WipedSecretValue(const WipedSecretValue&) = delete;
  WipedSecretValue& operator=(const WipedSecretValue&) = delete;
  ~WipedSecretValue() {
    crypto::wipe(value_.primary.data(), value_.primary.size());
    // The buffers were allocated mutable; only the set's elements are const.
    for (const core::SecretFieldEntryV1& field : value_.fields) {
      crypto::wipe(const_cast<std::uint8_t*>(field.value.data()), field.value.size());
    }
  }

  const core::SecretValueV1& get() const { return value_; }

 private:
  core::SecretValueV1 value_;
};

}  // namespace morvik::python
