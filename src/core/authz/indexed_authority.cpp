#include "core/authz/indexed_authority.hpp"

#include "core/overloaded.hpp"

namespace morvik::core::authz {
namespace {

std::vector<const KeyspaceSelectorV1*> keyspaces_of(const std::vector<KeyspaceSelectorV1>& list) {
  std::vector<const KeyspaceSelectorV1*> keyspaces;
  keyspaces.reserve(list.size());
  for (const auto& keyspace : list) keyspaces.push_back(&keyspace);
  return keyspaces;
}

std::vector<const KeyspaceSelectorV1*> keyspaces_of(const std::vector<ManageKeyspaceGrantV1>& manage) {
  std::vector<const KeyspaceSelectorV1*> keyspaces;
  keyspaces.reserve(manage.size());
  for (const auto& grant : manage) keyspaces.push_back(&grant.keyspace);
  return keyspaces;
}

bool holds_class(const ManageKeyspaceGrantV1& grant, const KeyspaceGrantClassV1& cls) {
  return std::find(grant.grantable.begin(), grant.grantable.end(), cls) != grant.grantable.end();
}

constexpr auto kAnything = [](std::uint32_t) { return true; };

}  // namespace

IndexedAuthority::IndexedAuthority(AuthoritySet set)
    : set_(std::move(set)),
      read_(keyspaces_of(set_.read)),
      write_(keyspaces_of(set_.write)),
      manage_(keyspaces_of(set_.manage)) {}

bool IndexedAuthority::can_read(const SecretSelectorV1& secret) const {
  return set_.admin || read_.any_matching(secret, kAnything) || write_.any_matching(secret, kAnything) ||
         manage_.any_matching(secret, kAnything);
}

bool IndexedAuthority::can_write(const SecretSelectorV1& secret) const {
  return set_.admin || write_.any_matching(secret, kAnything) || manage_.any_matching(secret, kAnything);
}

bool IndexedAuthority::can_create_permission(const GrantPermissionV1& permission) const {
  if (set_.admin) return true;
  auto may_grant = [&](const KeyspaceSelectorV1& keyspace, const KeyspaceGrantClassV1& cls) {
    return manage_.any_subsuming(keyspace, [&](std::uint32_t at) { return holds_class(set_.manage[at], cls); });
  };
  return std::visit(
      Overloaded{
          [&](const grant_permission::Read& p) { return may_grant(p.value, keyspace_grant_class::Read{}); },
          [&](const grant_permission::Write& p) { return may_grant(p.value, keyspace_grant_class::Write{}); },
          [&](const grant_permission::Manage& p) {
            return manage_.any_subsuming(p.keyspace, [&](std::uint32_t at) {
              const auto& grant = set_.manage[at];
              return holds_class(grant, keyspace_grant_class::Manage{}) &&
                     std::all_of(p.grantable.begin(), p.grantable.end(),
                                 [&](const auto& cls) { return holds_class(grant, cls); });
            });
          },
          [](const grant_permission::Admin&) { return false; },
      },
      permission);
}

}  // namespace morvik::core::authz
