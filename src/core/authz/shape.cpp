#include "core/authz/shape.hpp"

#include <algorithm>
#include <functional>

#include "core/overloaded.hpp"

namespace morvik::core::authz {
namespace {

using validate::invalid_structure;

// Each element strictly greater than the one before: sorted, no repeats.
// Texts compare by their bytes, the shorter first on a common prefix; grant
// classes by their index.
template <class T, class Key = std::identity>
bool strictly_ascending(const std::vector<T>& items, Key key = {}) {
  const auto out_of_order = [&](const T& a, const T& b) { return !(std::invoke(key, a) < std::invoke(key, b)); };
  return std::adjacent_find(items.begin(), items.end(), out_of_order) == items.end();
}

}  // namespace

CheckResult validate_secret_selector(const SecretSelectorV1& selector) {
  if (!strictly_ascending(selector.labels, &SecretLabelV1::key)) {
    return invalid_structure("secret selector labels must be sorted and unique");
  }
  return {};
}

CheckResult validate_keyspace_selector(const KeyspaceSelectorV1& keyspace) {
  if (const auto* prefix = std::get_if<tuple_matcher::Prefix>(&keyspace.tuple); prefix && prefix->value.empty()) {
    return invalid_structure("empty tuple prefix must be encoded as any");
  }
  if (!strictly_ascending(keyspace.labels, &KeyspaceLabelMatcherV1::key)) {
    return invalid_structure("keyspace selector labels must be sorted and unique");
  }
  for (const KeyspaceLabelMatcherV1& label : keyspace.labels) {
    const auto* in = std::get_if<label_matcher::In>(&label.matcher);
    if (in == nullptr) continue;
    if (in->value->empty()) return invalid_structure("label in matcher must not be empty");
    if (!strictly_ascending(*in->value)) return invalid_structure("label in matcher must be sorted and unique");
  }
  return {};
}

CheckResult validate_permission(const GrantPermissionV1& permission) {
  return std::visit(Overloaded{
                        [](const grant_permission::Read& p) { return validate_keyspace_selector(p.value); },
                        [](const grant_permission::Write& p) { return validate_keyspace_selector(p.value); },
                        [](const grant_permission::Manage& p) -> CheckResult {
                          if (auto keyspace = validate_keyspace_selector(p.keyspace); !keyspace) return keyspace;
                          if (p.grantable.empty()) {
                            return invalid_structure("manage grant must grant at least one class");
                          }
                          if (!strictly_ascending(p.grantable)) {
                            return invalid_structure("manage grant classes must be sorted and unique");
                          }
                          return {};
                        },
                        [](const grant_permission::Admin&) -> CheckResult { return {}; },
                    },
                    permission);
}

ValidationIssue to_issue(CoreError error) { return ValidationIssue::InvalidStructure{error.message()}; }

}  // namespace morvik::core::authz
