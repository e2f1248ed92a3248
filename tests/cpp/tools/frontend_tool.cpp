// Drives invitation decoding from the command line so that the Python suite
// can check it against an independent Bech32 implementation.
//
//   bundle-decode TEXT   -> the payload in lowercase hex
//
// A refusal prints its error text on stderr and exits with 1.

#include <iostream>
#include <string>

#include "frontend/bundle.hpp"
#include "support/crypto/vectors.hpp"

int main(int argc, char** argv) {
  if (argc != 3 || std::string(argv[1]) != "bundle-decode") {
    std::cerr << "usage: frontend_tool bundle-decode TEXT\n";
    return 2;
  }
  const auto payload = morvik::frontend::bundle::decode(argv[2]);
  if (!payload) {
    std::cerr << payload.error().message() << "\n";
    return 1;
  }
  std::cout << morvik::testing::to_hex(*payload) << "\n";
  return 0;
}
