// The verification cache file: whatever reads as a cache writes back as the
// same bytes. Its signature is the session's to check, not the reader's.

#include <algorithm>

#include "check.hpp"
#include "store/verification_cache.hpp"

using namespace morvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = fuzz::input(data, size);
  auto cache = store::decode_verification_cache(bytes);
  if (!cache) return 0;
  auto encoded = store::encode_verification_cache(*cache);
  fuzz::check(encoded && std::ranges::equal(*encoded, bytes), "a decoded cache encodes to the bytes it came from");
  auto message = store::verification_cache_message(cache->root, cache->version, cache->verified_hashes);
  fuzz::check(message.has_value(), "a decoded cache has a signed message");
  return 0;
}
