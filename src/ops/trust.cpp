#include "ops/trust.hpp"

#include <algorithm>
#include <iterator>
#include <set>

#include "core/derivations.hpp"
#include "core/signed_message.hpp"

namespace morvik::ops {

namespace {

// The key hashes of the self-signed root records among `records`.
template <class Records, class RecordOf>
OpsResult<core::HashValue> candidate_among(const Records& records, RecordOf record_of, const crypto::Crypto& crypto) {
  std::set<core::HashValue> keys;
  for (const auto& element : records) {
    const core::VaultRecordV1& record = record_of(element);
    const core::RecordBodyV1* body = record.body.known();
    const auto* root = body ? std::get_if<core::VaultRootRecordV1>(body) : nullptr;
    if (root == nullptr) continue;
    auto user_id = core::derive_user_id(crypto, record.signing_public_key, root->root_encryption_public_key);
    if (!user_id) return fail(std::move(user_id.error()));
    if (*user_id != root->root_user_id) continue;
    auto message = core::signed_record_message(record);
    if (!message) return fail(std::move(message.error()));
    if (!crypto.verify_signature(core::kSignedRecordLabel, record.signing_public_key, *message, record.signature)) {
      continue;
    }
    auto hash = core::key_hash(crypto, record.signing_public_key);
    if (!hash) return fail(std::move(hash.error()));
    keys.insert(std::move(*hash));
  }
  if (keys.empty()) return fail(OpsError::NoSelfSignedRoot{});
  if (keys.size() > 1) {
    return fail(OpsError::MultipleSelfSignedRoots{std::vector<core::HashValue>(keys.begin(), keys.end())});
  }
  return *keys.begin();
}

}  // namespace

OpsResult<core::HashValue> trusted_root_candidate(const core::VaultStore& vault, const crypto::Crypto& crypto) {
  return candidate_among(
      core::vault_records(vault), [](const core::VaultRecordV1& record) -> const auto& { return record; }, crypto);
}

OpsResult<core::HashValue> trusted_root_candidate(const core::validate::RecordSet& vault,
                                                  const crypto::Crypto& crypto) {
  return candidate_among(
      vault.records(), [](const core::validate::HeldRecord& held) -> const auto& { return *held.record; }, crypto);
}

bool has_suspected_rollback(const core::validate::ValidationReport& report) {
  return std::ranges::any_of(report.state.conflicts,
                             [](const auto& entry) { return entry.second.remembered.has_value(); });
}

}  // namespace morvik::ops
