#include "core/authz/selector_matching.hpp"

#include <algorithm>

#include "core/overloaded.hpp"

namespace morvik::core::authz {
namespace {

using Segments = std::vector<std::string>;

bool starts_with(const Segments& segments, const Segments& prefix) {
  return segments.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), segments.begin());
}

bool contains(const std::vector<std::string>& values, const std::string& value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

bool tuple_matches(const TupleMatcherV1& matcher, const Segments& tuple) {
  return std::visit(Overloaded{
                        [](const tuple_matcher::Any&) { return true; },
                        [&](const tuple_matcher::Exact& exact) { return tuple == exact.value; },
                        [&](const tuple_matcher::Prefix& prefix) { return starts_with(tuple, prefix.value); },
                    },
                    matcher);
}

// The first label of the secret with this key, if any.
const SecretLabelV1* find_label(const SecretSelectorV1& secret, const std::string& key) {
  auto it = std::find_if(secret.labels.begin(), secret.labels.end(), [&](const auto& l) { return l.key == key; });
  return it == secret.labels.end() ? nullptr : &*it;
}

bool label_matches(const KeyspaceLabelMatcherV1& matcher, const SecretSelectorV1& secret) {
  const SecretLabelV1* label = find_label(secret, matcher.key);
  return std::visit(Overloaded{
                        [&](const label_matcher::Present&) { return label != nullptr; },
                        [&](const label_matcher::Equals& equals) {
                          return label != nullptr && label->value == equals.value;
                        },
                        [&](const label_matcher::In& in) { return label != nullptr && contains(in.value, label->value); },
                        [&](const label_matcher::Absent&) { return label == nullptr; },
                    },
                    matcher.matcher);
}

bool tuple_subsumes(const TupleMatcherV1& outer, const TupleMatcherV1& inner) {
  return std::visit(Overloaded{
                        [](const tuple_matcher::Any&, const auto&) { return true; },
                        [](const tuple_matcher::Exact& a, const tuple_matcher::Exact& b) { return a.value == b.value; },
                        [](const tuple_matcher::Exact&, const auto&) { return false; },
                        [](const tuple_matcher::Prefix&, const tuple_matcher::Any&) { return false; },
                        [](const tuple_matcher::Prefix& a, const auto& b) { return starts_with(b.value, a.value); },
                    },
                    outer, inner);
}

bool all_equal_to(const std::vector<std::string>& values, const std::string& value) {
  return std::all_of(values.begin(), values.end(), [&](const auto& v) { return v == value; });
}

bool all_within(const std::vector<std::string>& values, const std::vector<std::string>& allowed) {
  return std::all_of(values.begin(), values.end(), [&](const auto& v) { return contains(allowed, v); });
}

// Whether every label value the inner matcher admits, the outer admits too.
bool label_subsumes(const LabelMatcherV1& outer, const LabelMatcherV1& inner) {
  using namespace label_matcher;
  return std::visit(Overloaded{
                        [](const Present&, const Absent&) { return false; },
                        [](const Present&, const auto&) { return true; },
                        [](const Equals& a, const Equals& b) { return a.value == b.value; },
                        [](const Equals& a, const In& b) { return all_equal_to(b.value, a.value); },
                        [](const In& a, const Equals& b) { return contains(a.value, b.value); },
                        [](const In& a, const In& b) { return all_within(b.value, a.value); },
                        [](const Absent&, const Absent&) { return true; },
                        [](const auto&, const auto&) { return false; },
                    },
                    outer, inner);
}

const KeyspaceLabelMatcherV1* find_matcher(const KeyspaceSelectorV1& keyspace, const std::string& key) {
  auto it = std::find_if(keyspace.labels.begin(), keyspace.labels.end(), [&](const auto& m) { return m.key == key; });
  return it == keyspace.labels.end() ? nullptr : &*it;
}

}  // namespace

bool selector_matches(const KeyspaceSelectorV1& keyspace, const SecretSelectorV1& secret) {
  if (!tuple_matches(keyspace.tuple, secret.tuple)) return false;
  return std::all_of(keyspace.labels.begin(), keyspace.labels.end(),
                     [&](const auto& matcher) { return label_matches(matcher, secret); });
}

bool selector_subsumes(const KeyspaceSelectorV1& outer, const KeyspaceSelectorV1& inner) {
  if (!tuple_subsumes(outer.tuple, inner.tuple)) return false;
  // Labels of the inner keyspace on keys the outer does not name only narrow it.
  return std::all_of(outer.labels.begin(), outer.labels.end(), [&](const KeyspaceLabelMatcherV1& a) {
    const KeyspaceLabelMatcherV1* b = find_matcher(inner, a.key);
    return b != nullptr && label_subsumes(a.matcher, b->matcher);
  });
}

}  // namespace morvik::core::authz
