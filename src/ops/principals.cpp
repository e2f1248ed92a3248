#include "ops/principals.hpp"

#include "core/derivations.hpp"
#include "core/handles.hpp"
#include "core/overloaded.hpp"

namespace morvik::ops {
namespace {

using core::validate::EffectiveState;

// Walks the handle records in identifier order and keeps the one whose
// normalized handle comes first; a later record replaces it only when
// strictly before it.
template <class Map, class Wanted>
const typename Map::mapped_type* primary_handle(const Map& handles, Wanted wanted) {
  const typename Map::mapped_type* primary = nullptr;
  std::string primary_form;
  for (const auto& [id, record] : handles) {
    if (!wanted(record)) continue;
    std::string form = core::normalize_handle(record.handle);
    if (!primary || form < primary_form) {
      primary = &record;
      primary_form = std::move(form);
    }
  }
  return primary;
}

OpsResult<ResolvedUserRef> resolve_handle(const EffectiveState& state, const crypto::Crypto& crypto,
                                          std::string text) {
  std::string handle = core::normalize_handle(text);
  if (!core::is_valid_handle(handle)) return fail(OpsError::InvalidUserHandle{std::move(text), kHandleRule});
  auto handle_id = core::derive_user_handle_id(crypto, handle);
  if (!handle_id) return fail(std::move(handle_id.error()));
  const auto record = state.user_handles.find(*handle_id);
  if (record == state.user_handles.end()) return fail(OpsError::UnknownUserHandle{std::move(handle)});
  const core::UserId& user_id = record->second.user_id;
  if (!state.users.contains(user_id)) return fail(OpsError::DanglingUserHandle{std::move(handle), user_id});
  return ResolvedUserRef{user_id, core::normalize_handle(record->second.handle)};
}

OpsResult<ResolvedUserRef> resolve_id(const EffectiveState& state, cord::Bytes bytes) {
  core::UserId user_id{core::HashValue{std::move(bytes)}};
  if (!state.users.contains(user_id)) return fail(OpsError::UserMissing{std::move(user_id)});
  std::optional<std::string> handle;
  if (const auto* primary = primary_handle_for_user(state, user_id)) handle = core::normalize_handle(primary->handle);
  return ResolvedUserRef{std::move(user_id), std::move(handle)};
}

}  // namespace

OpsResult<ResolvedUserRef> resolve_user_ref(const EffectiveState& state, const crypto::Crypto& crypto, UserRef ref) {
  return std::visit(core::Overloaded{
                        [&](user_ref::Handle& handle) { return resolve_handle(state, crypto, std::move(handle.text)); },
                        [&](user_ref::Id& id) { return resolve_id(state, std::move(id.bytes)); },
                    },
                    ref);
}

const core::UserHandleRecordV1* primary_handle_for_user(const EffectiveState& state, const core::UserId& user_id) {
  return primary_handle(state.user_handles,
                        [&](const core::UserHandleRecordV1& record) { return record.user_id == user_id; });
}

const core::VaultHandleRecordV1* primary_vault_handle(const EffectiveState& state) {
  return primary_handle(state.vault_handles, [](const core::VaultHandleRecordV1&) { return true; });
}

}  // namespace morvik::ops
