#include "core/authz/selector_matching.hpp"

#include <algorithm>

#include "core/overloaded.hpp"

namespace morvik::core::authz {
namespace {

using Text = cord::CompactText;
using Segments = std::vector<Text>;

bool starts_with(const Segments& segments, const Segments& prefix) {
  return segments.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), segments.begin());
}

bool contains(const Segments& values, const Text& value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

// Stored lists are in ascending order (the shape checks refuse any other)
// and may be as long as the vault file allows. Searching them by halves
// keeps a check of one long list against another from costing the product
// of their lengths; a list in any other order is scanned.

// The first element of `items` whose key is `key`, if any.
template <class T, class KeyOf>
const T* find_first(const std::vector<T>& items, const Text& key, KeyOf key_of, bool ascending) {
  if (ascending) {
    auto it = std::lower_bound(items.begin(), items.end(), key,
                               [&](const T& item, const Text& k) { return key_of(item) < k; });
    return it != items.end() && key_of(*it) == key ? &*it : nullptr;
  }
  auto it = std::find_if(items.begin(), items.end(), [&](const T& item) { return key_of(item) == key; });
  return it == items.end() ? nullptr : &*it;
}

template <class T, class KeyOf>
bool ascending_by(const std::vector<T>& items, KeyOf key_of) {
  return std::is_sorted(items.begin(), items.end(), [&](const T& a, const T& b) { return key_of(a) < key_of(b); });
}

const Text& label_key(const SecretLabelV1& label) { return label.key; }
const Text& matcher_key(const KeyspaceLabelMatcherV1& matcher) { return matcher.key; }

bool tuple_matches(const TupleMatcherV1& matcher, const Segments& tuple) {
  return std::visit(Overloaded{
                        [](const tuple_matcher::Any&) { return true; },
                        [&](const tuple_matcher::Exact& exact) { return tuple == exact.value; },
                        [&](const tuple_matcher::Prefix& prefix) { return starts_with(tuple, prefix.value); },
                    },
                    matcher);
}

// `label` is the secret's first label with the matcher's key, if any;
// `in_ascending` whether the values of an `In` matcher ascend.
bool label_matches(const KeyspaceLabelMatcherV1& matcher, const SecretLabelV1* label, bool in_ascending) {
  return std::visit(Overloaded{
                        [&](const label_matcher::Present&) { return label != nullptr; },
                        [&](const label_matcher::Equals& equals) {
                          return label != nullptr && label->value == equals.value;
                        },
                        [&](const label_matcher::In& in) {
                          if (label == nullptr) return false;
                          return in_ascending ? std::binary_search(in.value->begin(), in.value->end(), label->value)
                                              : contains(*in.value, label->value);
                        },
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

bool all_equal_to(const Segments& values, const Text& value) {
  return std::all_of(values.begin(), values.end(), [&](const auto& v) { return v == value; });
}

bool all_within(const Segments& values, const Segments& allowed) {
  if (std::is_sorted(allowed.begin(), allowed.end())) {
    return std::all_of(values.begin(), values.end(),
                       [&](const auto& v) { return std::binary_search(allowed.begin(), allowed.end(), v); });
  }
  return std::all_of(values.begin(), values.end(), [&](const auto& v) { return contains(allowed, v); });
}

// Whether every label value the inner matcher admits, the outer admits too.
bool label_subsumes(const LabelMatcherV1& outer, const LabelMatcherV1& inner) {
  using namespace label_matcher;
  return std::visit(Overloaded{
                        [](const Present&, const Absent&) { return false; },
                        [](const Present&, const auto&) { return true; },
                        [](const Equals& a, const Equals& b) { return a.value == b.value; },
                        [](const Equals& a, const In& b) { return all_equal_to(*b.value, a.value); },
                        [](const In& a, const Equals& b) { return contains(*a.value, b.value); },
                        [](const In& a, const In& b) { return all_within(*b.value, *a.value); },
                        [](const Absent&, const Absent&) { return true; },
                        [](const auto&, const auto&) { return false; },
                    },
                    outer, inner);
}

bool matches(const KeyspaceSelectorV1& keyspace, const SecretSelectorV1& secret, bool labels_ascending,
             bool in_ascending) {
  if (!tuple_matches(keyspace.tuple, secret.tuple)) return false;
  return std::all_of(keyspace.labels.begin(), keyspace.labels.end(), [&](const KeyspaceLabelMatcherV1& matcher) {
    return label_matches(matcher, find_first(secret.labels, matcher.key, label_key, labels_ascending), in_ascending);
  });
}

}  // namespace

bool selector_matches(const KeyspaceSelectorV1& keyspace, const SecretSelectorV1& secret) {
  if (keyspace.labels.empty()) return tuple_matches(keyspace.tuple, secret.tuple);
  return matches(keyspace, secret, ascending_by(secret.labels, label_key), false);
}

bool canonical_selector_matches(const KeyspaceSelectorV1& keyspace, const SecretSelectorV1& secret,
                                bool labels_ascending) {
  return matches(keyspace, secret, labels_ascending, true);
}

bool selector_subsumes(const KeyspaceSelectorV1& outer, const KeyspaceSelectorV1& inner) {
  if (!tuple_subsumes(outer.tuple, inner.tuple)) return false;
  if (outer.labels.empty()) return true;
  const bool ascending = ascending_by(inner.labels, matcher_key);
  // Labels of the inner keyspace on keys the outer does not name only narrow it.
  return std::all_of(outer.labels.begin(), outer.labels.end(), [&](const KeyspaceLabelMatcherV1& a) {
    const KeyspaceLabelMatcherV1* b = find_first(inner.labels, a.key, matcher_key, ascending);
    return b != nullptr && label_subsumes(a.matcher, b->matcher);
  });
}

}  // namespace morvik::core::authz
