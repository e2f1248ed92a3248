#include "crypto/provider.hpp"

#include "core/domain_hash.hpp"
#include "crypto/ed25519.hpp"

namespace morvik::crypto {

core::HashValue Crypto::hash(std::string_view domain, cord::ByteView data) const {
  return core::domain_hash(domain, data);
}

bool Crypto::verify_signature(std::string_view domain, cord::ByteView public_key, cord::ByteView message,
                              cord::ByteView signature) const {
  // Lengths first, so that no transcript is built for a record that cannot verify.
  if (public_key.size() != kEd25519PublicKeyLength || signature.size() != kEd25519SignatureLength) return false;
  return ed25519_verify_strict(public_key, core::signature_transcript(domain, message), signature);
}

}  // namespace morvik::crypto
