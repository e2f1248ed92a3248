// Drives the cryptography from the command line so that the Python suite can
// check it against independent implementations. Arguments and results are
// lowercase hex, one result per line; a failure prints its text on stderr
// and exits with 1.
//
//   identity SEED                      -> signing public key, encryption public key
//   sign SEED DOMAIN MESSAGE           -> signature (DOMAIN as text)
//   hpke-seal PUBLIC CONTEXT AAD PT    -> encapsulated key, ciphertext
//   hpke-open PRIVATE ENC CONTEXT AAD CT -> plaintext
//   hpke-seal-sequence PUBLIC IKME INFO AAD PT COUNT
//                                      -> encapsulated key, then COUNT
//                                         ciphertexts of one base-mode context
//                                         (ephemeral key derived from IKME,
//                                         INFO raw)
//   hpke-open-sequence PRIVATE ENC INFO AAD CT...
//                                      -> the plaintexts, opened in order by
//                                         one context
//   seal-content KEY NONCE AAD PT      -> ciphertext
//   open-content KEY NONCE AAD CT      -> plaintext

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "crypto/content.hpp"
#include "crypto/hpke.hpp"
#include "crypto/identity.hpp"
#include "crypto/key_wrap.hpp"
#include "crypto/provider.hpp"
#include "support/crypto/vectors.hpp"

namespace {

using namespace morvik;
using morvik::testing::from_hex;
using morvik::testing::to_hex;

int failed(const std::string& text) {
  std::cerr << text << "\n";
  return 1;
}

template <std::size_t N>
std::span<const std::uint8_t, N> exactly(const cord::Bytes& bytes) {
  if (bytes.size() != N) throw std::invalid_argument("expected " + std::to_string(N) + " bytes");
  return std::span<const std::uint8_t, N>(bytes.data(), N);
}

int run(const std::vector<std::string>& args) {
  const std::string& command = args.at(0);
  auto hex = [&](std::size_t i) { return from_hex(args.at(i)); };

  if (command == "identity") {
    auto identity = crypto::Identity::from_master_seed(crypto::Crypto{}, hex(1));
    if (!identity) return failed(identity.error().message());
    std::cout << to_hex(identity->signing_public_key) << "\n" << to_hex(identity->encryption_public_key) << "\n";
    return 0;
  }
  if (command == "sign") {
    auto identity = crypto::Identity::from_master_seed(crypto::Crypto{}, hex(1));
    if (!identity) return failed(identity.error().message());
    std::cout << to_hex(identity->sign(args.at(2), hex(3))) << "\n";
    return 0;
  }
  if (command == "hpke-seal") {
    auto sealed = crypto::hpke_seal(hex(1), hex(2), hex(3), hex(4));
    if (!sealed) return failed(sealed.error().message());
    std::cout << to_hex(sealed->encapsulated_key) << "\n" << to_hex(sealed->ciphertext) << "\n";
    return 0;
  }
  if (command == "hpke-open") {
    const auto recipient = crypto::hpke::key_pair_of(crypto::hpke::PrivateKey(exactly<32>(hex(1))));
    auto plaintext = crypto::hpke_open(recipient, hex(2), hex(3), hex(4), hex(5));
    if (!plaintext) return failed(plaintext.error().message());
    std::cout << to_hex(*plaintext) << "\n";
    return 0;
  }
  if (command == "hpke-seal-sequence") {
    auto sender = crypto::hpke::encap_deterministic(exactly<32>(hex(1)), hex(2));
    if (!sender) return failed(std::string(crypto::hpke::message(sender.error())));
    crypto::hpke::Context context(sender->shared_secret, hex(3));
    std::cout << to_hex(sender->enc) << "\n";
    for (unsigned long i = 0, count = std::stoul(args.at(6)); i < count; ++i) {
      auto ciphertext = context.seal(hex(4), hex(5));
      if (!ciphertext) return failed(std::string(crypto::hpke::message(ciphertext.error())));
      std::cout << to_hex(*ciphertext) << "\n";
    }
    return 0;
  }
  if (command == "hpke-open-sequence") {
    const auto recipient = crypto::hpke::key_pair_of(crypto::hpke::PrivateKey(exactly<32>(hex(1))));
    auto shared = crypto::hpke::decap(exactly<32>(hex(2)), recipient);
    if (!shared) return failed(std::string(crypto::hpke::message(shared.error())));
    crypto::hpke::Context context(*shared, hex(3));
    for (std::size_t i = 5; i < args.size(); ++i) {
      auto plaintext = context.open(hex(4), hex(i));
      if (!plaintext) return failed(std::string(crypto::hpke::message(plaintext.error())));
      std::cout << to_hex(*plaintext) << "\n";
    }
    return 0;
  }
  if (command == "seal-content" || command == "open-content") {
    crypto::ContentKey key(exactly<32>(hex(1)));
    auto nonce = crypto::ContentNonce::from_bytes(hex(2));
    if (!nonce) return failed(nonce.error().message());
    if (command == "seal-content") {
      auto ciphertext = crypto::seal_content(key, *nonce, hex(3), hex(4));
      if (!ciphertext) return failed(ciphertext.error().message());
      std::cout << to_hex(*ciphertext) << "\n";
    } else {
      auto plaintext = crypto::open_content(key, *nonce, hex(3), hex(4));
      if (!plaintext) return failed(plaintext.error().message());
      std::cout << to_hex(*plaintext) << "\n";
    }
    return 0;
  }
  return failed("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return failed("usage: crypto_tool COMMAND ARGS...");
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    return failed(std::string("bad arguments: ") + e.what());
  }
}
