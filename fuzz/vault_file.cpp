// The vault file, then its validation as a load runs it: against the ratchet
// of the root the record set itself names, and again against that ratchet
// raised by what the first validation asked it to remember.

#include <algorithm>

#include "check.hpp"
#include "core/validate/pipeline.hpp"
#include "core/vault_file/vault_file.hpp"
#include "crypto/provider.hpp"
#include "ops/trust.hpp"

using namespace morvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = fuzz::input(data, size);
  auto vault = core::validate::decode_vault(bytes);
  if (!vault) return 0;
  auto encoded = core::validate::encode_vault(*vault);
  fuzz::check(encoded && std::ranges::equal(*encoded, bytes), "a decoded vault encodes to the bytes it came from");

  const crypto::Crypto crypto;
  auto root = ops::trusted_root_candidate(*vault, crypto);
  core::ratchet::Ratchet ratchet(root ? *root : core::HashValue{cord::Bytes(32, 0)});
  auto report = core::validate::validate_vault(*vault, ratchet, crypto);
  if (!report || !report->issues.empty()) return 0;
  ratchet.apply_update(report->ratchet_update);
  auto again = core::validate::validate_vault(*vault, ratchet, crypto);
  fuzz::check(again && again->issues.empty(), "a vault stays valid against the ratchet its validation raised");
  fuzz::check(again->state.max_counter == report->state.max_counter &&
                  again->state.verified_record_hashes() == report->state.verified_record_hashes(),
              "revalidation admits the same records");
  return 0;
}
