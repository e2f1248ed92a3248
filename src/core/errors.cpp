#include "core/errors.hpp"

#include "core/overloaded.hpp"

namespace morvik::core {

std::string CoreError::message() const {
  return std::visit(Overloaded{
                        [](const Cord& c) { return "cord error: " + c.error.message(); },
                        [](const Validation& v) { return "validation failed: " + v.message; },
                        [](const OutOfMemory&) { return std::string("out of memory"); },
                    },
                    value);
}

std::string CryptoError::message() const {
  return std::visit(
      Overloaded{
          [](const Core& c) -> std::string { return "core error: " + c.error.message(); },
          [](const InvalidLength& l) -> std::string {
            return "invalid byte length for " + std::string(l.what) + ": expected " + std::to_string(l.expected) +
                   ", got " + std::to_string(l.got);
          },
          [](const InvalidEd25519PublicKey&) -> std::string { return "invalid Ed25519 public key"; },
          [](const InvalidEd25519SecretKey&) -> std::string { return "invalid Ed25519 secret key"; },
          [](const InvalidEd25519Signature&) -> std::string { return "invalid Ed25519 signature"; },
          [](const InvalidHpkePublicKey&) -> std::string { return "invalid HPKE public key"; },
          [](const InvalidHpkePrivateKey&) -> std::string { return "invalid HPKE private key"; },
          [](const InvalidHpkeEncapsulatedKey&) -> std::string { return "invalid HPKE encapsulated key"; },
          [](const Hpke& h) -> std::string { return "HPKE operation failed: " + h.message; },
          [](const Aead&) -> std::string { return "AEAD operation failed"; },
          [](const RatchetAuthentication&) -> std::string { return "ratchet authentication failed"; },
          [](const Random& r) -> std::string { return "from_os_rng failed: " + r.message; },
      },
      value);
}

}  // namespace morvik::core
