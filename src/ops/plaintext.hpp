#pragma once

// A decrypted secret as callers see it: its selector, the primary value and
// the named fields, the values in buffers that are wiped when released.

#include <string>
#include <string_view>
#include <vector>

#include "core/payloads.hpp"
#include "core/selectors.hpp"
#include "crypto/secret.hpp"

namespace morvik::ops {

struct SecretField {
  std::string name;
  crypto::SecretBytes value;
};

// Field names are compared in NFC, the form in which the encoding stores
// them: a name that differs from a stored one only in normalisation names
// that same field.
struct SecretPlaintext {
  core::SecretSelectorV1 selector;
  crypto::SecretBytes primary;
  // Sorted by name bytes, the shorter first on a common prefix.
  std::vector<SecretField> fields;

  static SecretPlaintext from_value(core::SecretSelectorV1 selector, core::SecretValueV1 value);

  // The first field of that name, or none.
  const SecretField* field(std::string_view name) const;
  // The value to store: this one with the field `name` set to `value`,
  // replacing any field of that name.
  core::SecretValueV1 with_field(std::string name, cord::ByteView value) const;
  // The value to store: this one without any field named `name`.
  core::SecretValueV1 without_field(std::string_view name) const;
};

}  // namespace morvik::ops
