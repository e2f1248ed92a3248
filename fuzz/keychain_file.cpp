// The older combined and per-user keychain files, which are split when met:
// a record set that decodes (unknown records kept as they are) encodes back
// to the same bytes, and the identities of every root in it can be listed.

#include <algorithm>

#include "check.hpp"
#include "keychain/files.hpp"

using namespace morvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = fuzz::input(data, size);
  auto records = keychain::decode_keychain_file(bytes);
  if (!records) return 0;
  for (const auto& record : *records) {
    const auto* known = record.known();
    if (known == nullptr) continue;
    if (const auto* identity = std::get_if<keychain::keychain_record::Identity>(known)) {
      (void)keychain::identities_of_root(*records, identity->value.root);
    }
  }
  auto encoded = keychain::encode_keychain_records(std::move(*records));
  fuzz::check(encoded && std::ranges::equal(*encoded, bytes), "a decoded keychain encodes to the bytes it came from");
  return 0;
}
