#include "core/authz/authority_set.hpp"

#include "core/authz/selector_matching.hpp"
#include "core/overloaded.hpp"

namespace morvik::core::authz {
namespace {

KeyspaceSelectorV1 everything() { return KeyspaceSelectorV1{tuple_matcher::Any{}, {}}; }

bool any_matches(const std::vector<KeyspaceSelectorV1>& keyspaces, const SecretSelectorV1& secret) {
  return std::any_of(keyspaces.begin(), keyspaces.end(), [&](const auto& k) { return selector_matches(k, secret); });
}

bool any_manage_matches(const std::vector<ManageKeyspaceGrantV1>& manage, const SecretSelectorV1& secret) {
  return std::any_of(manage.begin(), manage.end(), [&](const auto& g) { return selector_matches(g.keyspace, secret); });
}

bool holds_class(const std::vector<KeyspaceGrantClassV1>& grantable, const KeyspaceGrantClassV1& cls) {
  return std::find(grantable.begin(), grantable.end(), cls) != grantable.end();
}

// A manage grant that may hand on `cls` within `keyspace`. Holding one
// implies holding a read, write or manage keyspace that covers `keyspace`,
// so no separate test of those lists is needed.
bool may_grant(const std::vector<ManageKeyspaceGrantV1>& manage, const KeyspaceSelectorV1& keyspace,
               const KeyspaceGrantClassV1& cls) {
  return std::any_of(manage.begin(), manage.end(), [&](const ManageKeyspaceGrantV1& g) {
    return holds_class(g.grantable, cls) && selector_subsumes(g.keyspace, keyspace);
  });
}

}  // namespace

AuthoritySet AuthoritySet::root() {
  return AuthoritySet{
      .read = {everything()},
      .write = {everything()},
      .manage = {ManageKeyspaceGrantV1{
          everything(),
          {keyspace_grant_class::Read{}, keyspace_grant_class::Write{}, keyspace_grant_class::Manage{}}}},
      .admin = true,
  };
}

bool AuthoritySet::can_read(const SecretSelectorV1& secret) const {
  return admin || any_matches(read, secret) || any_matches(write, secret) || any_manage_matches(manage, secret);
}

bool AuthoritySet::can_write(const SecretSelectorV1& secret) const {
  return admin || any_matches(write, secret) || any_manage_matches(manage, secret);
}

bool AuthoritySet::can_create_permission(const GrantPermissionV1& permission) const {
  if (admin) return true;
  return std::visit(
      Overloaded{
          [&](const grant_permission::Read& p) { return may_grant(manage, p.value, keyspace_grant_class::Read{}); },
          [&](const grant_permission::Write& p) { return may_grant(manage, p.value, keyspace_grant_class::Write{}); },
          [&](const grant_permission::Manage& p) {
            // Within a keyspace no wider than its own, a holder hands on at
            // most the classes it holds.
            return std::any_of(manage.begin(), manage.end(), [&](const ManageKeyspaceGrantV1& g) {
              return holds_class(g.grantable, keyspace_grant_class::Manage{}) &&
                     selector_subsumes(g.keyspace, p.keyspace) &&
                     std::all_of(p.grantable.begin(), p.grantable.end(),
                                 [&](const auto& cls) { return holds_class(g.grantable, cls); });
            });
          },
          [](const grant_permission::Admin&) { return false; },
      },
      permission);
}

}  // namespace morvik::core::authz
