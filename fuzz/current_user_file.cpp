// The keychain's current-user file: one that decodes encodes back to the
// same bytes.

#include <algorithm>

#include "check.hpp"
#include "keychain/files.hpp"

using namespace morvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = fuzz::input(data, size);
  auto current = keychain::decode_current_user_file(store::Path("current-user.cord"), bytes);
  if (!current) return 0;
  auto encoded = keychain::encode_current_user_file(*current);
  fuzz::check(encoded && std::ranges::equal(*encoded, bytes),
              "a decoded current user encodes to the bytes it came from");
  return 0;
}
