#pragma once

// Whether one record is well formed in itself: its counter within the
// ceiling, every content-addressed identifier equal to the one its own
// pre-image derives, handles obeying the handle rule, selectors and
// permissions in canonical shape, each reader named once, and no record
// turning the root user into something else. Other records, signatures and
// authority are not looked at. A record reports its first finding only.

#include <cstdint>
#include <string>
#include <variant>

#include "core/authz/shape.hpp"
#include "core/derivations.hpp"
#include "core/domain_hash.hpp"
#include "core/handles.hpp"
#include "core/overloaded.hpp"
#include "core/provider.hpp"
#include "core/records.hpp"
#include "core/validate/issues.hpp"

namespace morvik::core::validate {

// 2^62: room above every counter a vault can reach, below any overflow.
inline constexpr std::uint64_t kCounterCeiling = std::uint64_t{1} << 62;

namespace structure_detail {

// `derived` (an identifier, or the error of deriving it) must equal `stored`.
template <class Id>
CheckResult equals_derived(const CoreResult<Id>& derived, const Id& stored, const char* message) {
  if (!derived) return std::unexpected(authz::to_issue(derived.error()));
  if (*derived != stored) return invalid_structure(message);
  return {};
}

inline CheckResult distinct_readers(const SealedPayloadV1& payload) {
  if (payload.recipient_slots.has_duplicate_reader()) return invalid_structure("duplicate recipient slot");
  return {};
}

}  // namespace structure_detail

// The user record's identifier is the one its two keys derive.
template <CryptoProvider P>
CheckResult structurally_valid_user(const UserRecordV1& user, const P& provider) {
  return structure_detail::equals_derived(
      derive_user_id(provider, user.signing_public_key, user.encryption_public_key), user.user_id,
      "invalid user record");
}

// `record` is the envelope of `body`, a body of a known kind; only its
// signing key is read, for a root record.
template <CryptoProvider P>
CheckResult structurally_validate_record(const VaultRecordV1& record, const RecordBodyV1& body,
                                         const UserId& root_user_id, const P& provider) {
  using structure_detail::equals_derived;
  if (const auto counter = body_counter(body); counter && *counter > kCounterCeiling) {
    return invalid_structure("counter exceeds the supported ceiling");
  }
  return std::visit(
      core::Overloaded{
          [&](const VaultRootRecordV1& r) {
            return equals_derived(derive_user_id(provider, record.signing_public_key, r.root_encryption_public_key),
                           r.root_user_id, "invalid root record");
          },
          [&](const EntryPointRecordV1& r) -> CheckResult {
            if (r.user_id != root_user_id) return invalid_structure("invalid entry point record");
            return {};
          },
          [&](const UserRecordV1& r) { return structurally_valid_user(r, provider); },
          [&](const UserHandleRecordV1& r) -> CheckResult {
            // The rule applies to the stored text: its identifier alone would
            // accept any spelling that normalises to it.
            if (!is_valid_handle(r.handle)) return invalid_structure("invalid user handle");
            return equals_derived(derive_user_handle_id(provider, r.handle), r.handle_id, "invalid user handle");
          },
          [&](const GroupRecordV1& r) -> CheckResult {
            const char* message = "invalid group record";
            if (auto id = equals_derived(hash_encoding<GroupId>(provider, kGroupIdLabel, r.seed), r.group_id, message);
                !id) {
              return id;
            }
            if (!is_valid_handle(r.handle)) return invalid_structure(message);
            return {};
          },
          [](const GroupDeletedRecordV1&) -> CheckResult { return {}; },
          [&](const GroupMemberRecordV1& r) {
            return equals_derived(derive_group_member_id(provider, r.group_id, r.member), r.group_member_id,
                                  "invalid group membership");
          },
          [&](const GroupMemberDeletedRecordV1& r) {
            return equals_derived(derive_group_member_id(provider, r.group_id, r.member), r.group_member_id,
                                  "invalid group membership deletion");
          },
          [&](const GrantRecordV1& r) -> CheckResult {
            auto id = hash_encoding<GrantId>(provider, kGrantIdLabel, r.seed);
            if (!id) return std::unexpected(authz::to_issue(std::move(id.error())));
            if (auto permission = authz::validate_permission(r.permission); !permission) return permission;
            return equals_derived(id, r.grant_id, "invalid grant");
          },
          [](const GrantDeletedRecordV1& r) { return authz::validate_permission(r.permission); },
          [&](const UserDeletedRecordV1& r) -> CheckResult {
            if (r.user_id == root_user_id) return invalid_structure("invalid user deletion");
            return {};
          },
          [&](const SecretRecordV1& r) -> CheckResult {
            if (auto selector = authz::validate_secret_selector(r.selector); !selector) return selector;
            if (auto id = equals_derived(derive_secret_id(provider, r.selector), r.secret_id, "invalid secret value");
                !id) {
              return id;
            }
            return structure_detail::distinct_readers(r.payload);
          },
          [&](const SecretDeletedRecordV1& r) -> CheckResult {
            if (auto selector = authz::validate_secret_selector(r.selector); !selector) return selector;
            return equals_derived(derive_secret_id(provider, r.selector), r.secret_id, "invalid secret deletion");
          },
          [&](const VaultHandleRecordV1& r) -> CheckResult {
            if (!is_valid_handle(r.handle)) return invalid_structure("invalid vault handle record");
            return equals_derived(derive_vault_handle_id(provider, r.handle), r.handle_id,
                                  "invalid vault handle record");
          },
      },
      body);
}

}  // namespace morvik::core::validate
