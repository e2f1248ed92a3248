// A sealed identity file of the keychain: one that decodes encodes back to
// the same bytes.

#include <algorithm>

#include "check.hpp"
#include "keychain/files.hpp"

using namespace morvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = fuzz::input(data, size);
  auto sealed = keychain::decode_identity_file(store::Path("identity.cord"), bytes);
  if (!sealed) return 0;
  auto encoded = keychain::encode_identity_file(*sealed);
  fuzz::check(encoded && std::ranges::equal(*encoded, bytes), "a decoded identity encodes to the bytes it came from");
  return 0;
}
