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

IndexedAuthority::IndexedAuthority(AuthoritySet set) : set_(std::move(set)) {}

const IndexedAuthority::Indexes& IndexedAuthority::indexes() const {
  std::call_once(indexed_, [this] {
    indexes_ = {KeyspaceIndex(keyspaces_of(set_.read)), KeyspaceIndex(keyspaces_of(set_.write)),
                KeyspaceIndex(keyspaces_of(set_.manage))};
  });
  return indexes_;
}

bool IndexedAuthority::can_read(const SecretSelectorV1& secret) const {
  if (set_.admin) return true;
  const auto& [read, write, manage] = indexes();
  return read.any_matching(secret, kAnything) || write.any_matching(secret, kAnything) ||
         manage.any_matching(secret, kAnything);
}

bool IndexedAuthority::can_write(const SecretSelectorV1& secret) const {
  if (set_.admin) return true;
  const auto& [read, write, manage] = indexes();
  return write.any_matching(secret, kAnything) || manage.any_matching(secret, kAnything);
}

bool IndexedAuthority::can_create_permission(const GrantPermissionV1& permission) const {
  if (set_.admin) return true;
  const auto& manage = indexes().manage;
  auto may_grant = [&](const KeyspaceSelectorV1& keyspace, const KeyspaceGrantClassV1& cls) {
    return manage.any_subsuming(keyspace, [&](std::uint32_t at) { return holds_class(set_.manage[at], cls); });
  };
  return std::visit(
      Overloaded{
          [&](const grant_permission::Read& p) { return may_grant(p.value, keyspace_grant_class::Read{}); },
          [&](const grant_permission::Write& p) { return may_grant(p.value, keyspace_grant_class::Write{}); },
          [&](const grant_permission::Manage& p) {
            return manage.any_subsuming(p.keyspace, [&](std::uint32_t at) {
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
