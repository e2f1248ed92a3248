// The vault file, then its validation as a load runs it: against the ratchet
// of the root the record set itself names, and again against that ratchet
// raised by what the first validation asked it to remember. The deletions
// followed through the kept authority rounds must give what the plain pass
// gives, which computes every round again after every deletion.

#include <algorithm>

#include "check.hpp"
#include "core/validate/deletions.hpp"
#include "core/validate/pipeline.hpp"
#include "core/vault_file/vault_file.hpp"
#include "crypto/provider.hpp"
#include "ops/trust.hpp"

using namespace morvik;

namespace {

void compare_deletion_passes(const core::VaultStore& vault, const core::HashValue& trusted_root,
                             const crypto::Crypto& crypto) {
  namespace validate = core::validate;
  auto checked = validate::detail::check_record_set(validate::RecordSet::of(vault).value(), trusted_root, crypto, {});
  if (!checked || !*checked) return;
  const auto& records = (*checked)->verified;
  const auto& root = (*checked)->root;
  const auto along = validate::resolve_effective_with_deletions(root, records, {});
  const auto plain = validate::resolve_effective_with_deletions(root, records, {}, validate::DeletionUpdate::Recompute,
                                                                validate::RoundUpdate::Recompute);
  fuzz::check(!along.work_limit_exceeded, "a small vault stays within the deletion work limit");
  fuzz::check(along.order == plain.order, "deletions along the kept rounds are applied as the plain pass applies them");
  const auto& a = along.state;
  const auto& b = plain.state;
  fuzz::check(a.users == b.users && a.groups == b.groups && a.members == b.members && a.grants == b.grants &&
                  a.deleted_users == b.deleted_users && a.deleted_groups == b.deleted_groups &&
                  a.deleted_grants == b.deleted_grants && a.authorities == b.authorities &&
                  a.conflicts == b.conflicts && a.did_not_converge == b.did_not_converge,
              "deletions along the kept rounds leave the state the plain pass leaves");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = fuzz::input(data, size);
  auto vault = core::validate::decode_vault(bytes);
  const auto checked = core::validate::check_vault_file(bytes);
  fuzz::check(checked.has_value() == vault.has_value() &&
                  (vault || checked.error().message() == vault.error().message()),
              "checking a vault file accepts what decoding accepts and refuses the rest with its error");
  if (!vault) return 0;
  auto encoded = core::validate::encode_vault(*vault);
  fuzz::check(encoded && std::ranges::equal(*encoded, bytes), "a decoded vault encodes to the bytes it came from");

  const crypto::Crypto crypto;
  auto root = ops::trusted_root_candidate(*vault, crypto);
  core::ratchet::Ratchet ratchet(root ? *root : core::HashValue{cord::Bytes(32, 0)});
  compare_deletion_passes(*vault, ratchet.trusted_root, crypto);
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
