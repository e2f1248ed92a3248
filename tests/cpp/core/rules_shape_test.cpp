#include <gtest/gtest.h>

#include "core/authz/shape.hpp"
#include "support/core/selectors.hpp"

namespace morvik::core::authz {
namespace {

using namespace morvik::testing;

// The message of the check's issue, or "" when it passes.
std::string finding(const CheckResult& result) {
  if (result) return "";
  const auto* invalid = std::get_if<ValidationIssue::InvalidStructure>(&result.error().value);
  return invalid ? invalid->message : "not InvalidStructure";
}

TEST(ShapeTest, SecretSelectorLabelsSortedByBytes) {
  struct Case {
    SecretSelectorV1 selector;
    const char* expected;
  };
  const char* unsorted = "secret selector labels must be sorted and unique";
  const Case cases[] = {
      {secret({}), ""},
      {secret({"a", "b"}, {{"B", "x"}, {"a", "x"}}), ""},
      {secret({}, {{"a", "x"}, {"ab", "x"}}), ""},
      {secret({}, {{"ab", "x"}, {"b", "x"}}), ""},
      {secret({}, {{"ab", "x"}, {"a", "x"}}), unsorted},
      {secret({}, {{"a", "x"}, {"a", "y"}}), unsorted},
      {secret({}, {{"\xc3\xa9", "x"}, {"z", "x"}}), unsorted},
      // Emptiness is the text syntax's business, not the stored shape's.
      {secret({"", ""}, {{"", ""}}), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(finding(validate_secret_selector(c.selector)), c.expected);
}

TEST(ShapeTest, KeyspaceSelectorRulesInOrder) {
  struct Case {
    const char* name;
    KeyspaceSelectorV1 keyspace;
    const char* expected;
  };
  const Case cases[] = {
      {"any", any_keyspace(), ""},
      {"empty exact", exact({}), ""},
      {"canonical labels", prefix({"app"}, {absent("a"), in("b", {"x", "y"}), equals("c", ""), present("d")}), ""},
      {"empty prefix", prefix({}), "empty tuple prefix must be encoded as any"},
      {"empty prefix wins over unsorted labels", prefix({}, {present("b"), present("a")}),
       "empty tuple prefix must be encoded as any"},
      {"unsorted keys", any_keyspace({present("b"), present("a")}),
       "keyspace selector labels must be sorted and unique"},
      {"repeated key", any_keyspace({present("a"), absent("a")}), "keyspace selector labels must be sorted and unique"},
      {"unsorted keys win over a bad in", any_keyspace({in("b", {}), present("a")}),
       "keyspace selector labels must be sorted and unique"},
      {"empty in", any_keyspace({in("env", {})}), "label in matcher must not be empty"},
      {"unsorted in", any_keyspace({in("env", {"b", "a"})}), "label in matcher must be sorted and unique"},
      {"repeated in value", any_keyspace({in("env", {"a", "a"})}), "label in matcher must be sorted and unique"},
      {"the first bad in decides", any_keyspace({in("a", {}), in("b", {"b", "a"})}),
       "label in matcher must not be empty"},
      {"the first bad in decides, unsorted", any_keyspace({in("a", {"b", "a"}), in("b", {})}),
       "label in matcher must be sorted and unique"},
  };
  for (const auto& c : cases) EXPECT_EQ(finding(validate_keyspace_selector(c.keyspace)), c.expected) << c.name;
}

TEST(ShapeTest, PermissionRulesInOrder) {
  struct Case {
    const char* name;
    GrantPermissionV1 permission;
    const char* expected;
  };
  const Case cases[] = {
      {"admin", admin_permission(), ""},
      {"read", read_permission(prefix({"app"})), ""},
      {"read of a bad keyspace", read_permission(prefix({})), "empty tuple prefix must be encoded as any"},
      {"write of a bad keyspace", write_permission(any_keyspace({in("a", {})})), "label in matcher must not be empty"},
      {"manage of every class", manage_permission(any_keyspace(), {kRead, kWrite, kManage}), ""},
      {"manage of a bad keyspace", manage_permission(prefix({}), {}), "empty tuple prefix must be encoded as any"},
      {"manage of no class", manage_permission(any_keyspace(), {}), "manage grant must grant at least one class"},
      {"manage of unsorted classes", manage_permission(any_keyspace(), {kWrite, kRead}),
       "manage grant classes must be sorted and unique"},
      {"manage of a repeated class", manage_permission(any_keyspace(), {kRead, kRead}),
       "manage grant classes must be sorted and unique"},
  };
  for (const auto& c : cases) EXPECT_EQ(finding(validate_permission(c.permission)), c.expected) << c.name;
}

TEST(ShapeTest, ToIssueCarriesTheErrorText) {
  EXPECT_EQ(to_issue(CoreError::validation("x")), ValidationIssue{ValidationIssue::InvalidStructure{"validation failed: x"}});
  EXPECT_EQ(to_issue(CoreError::cord(cord::CordError::of(cord::CordErrorKind::WidthOverflow))),
            ValidationIssue{ValidationIssue::InvalidStructure{"cord error: Value overflow for encoding width"}});
}

}  // namespace
}  // namespace morvik::core::authz
