#pragma once

#include "core/ids.hpp"
#include "core/recipient_slots.hpp"
#include "core/secret.hpp"
#include "cord/cord.hpp"

namespace morvik::core {

// A secret's content, encrypted once, with one key slot per reader. No
// length is fixed here: wrong lengths surface when the payload is opened.
struct SealedPayloadV1 {
  cord::CompactBytes nonce;
  cord::CompactBytes ciphertext;
  RecipientSlots recipient_slots;

  static constexpr auto cord_fields() {
    return std::tuple{&SealedPayloadV1::nonce, &SealedPayloadV1::ciphertext, &SealedPayloadV1::recipient_slots};
  }
  auto operator<=>(const SealedPayloadV1&) const = default;
};
// Every secret record holds one, its slots however many in one block.
static_assert(cord::decodes_compactly<SealedPayloadV1>);

// A named field of a decrypted secret. Entries are whole set elements, so the
// same key may appear with different values. The value is wiped on release.
struct SecretFieldEntryV1 {
  std::string key;
  SecretBytes value;

  static constexpr auto cord_fields() { return std::tuple{&SecretFieldEntryV1::key, &SecretFieldEntryV1::value}; }
  auto operator<=>(const SecretFieldEntryV1&) const = default;
};

// The structure of a decrypted secret; its values are wiped on release.
struct SecretValueV1 {
  SecretBytes primary;
  cord::Set<SecretFieldEntryV1> fields;

  // A value without additional fields: what setting a secret as a whole stores.
  static SecretValueV1 from_primary(cord::ByteView primary) {
    return SecretValueV1{SecretBytes(primary.begin(), primary.end()), {}};
  }

  static constexpr auto cord_fields() { return std::tuple{&SecretValueV1::primary, &SecretValueV1::fields}; }
  bool operator==(const SecretValueV1&) const = default;
};

}  // namespace morvik::core

// Compiled once, in codecs.cpp.
MORVIK_CORD_EXTERN_CODEC(morvik::core::SealedPayloadV1);
MORVIK_CORD_EXTERN_CODEC(morvik::core::SecretValueV1);
