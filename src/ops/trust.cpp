#include "ops/trust.hpp"

#include <algorithm>
#include <iterator>
#include <set>

#include "core/derivations.hpp"
#include "core/signed_message.hpp"

namespace morvik::ops {

OpsResult<core::HashValue> trusted_root_candidate(const core::VaultStore& vault, const crypto::Crypto& crypto) {
  std::set<core::HashValue> keys;
  for (const core::VaultRecordV1& record : core::vault_records(vault)) {
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

bool has_suspected_rollback(const core::validate::ValidationReport& report) {
  return std::ranges::any_of(report.state.conflicts,
                             [](const auto& entry) { return entry.second.remembered.has_value(); });
}

}  // namespace morvik::ops
