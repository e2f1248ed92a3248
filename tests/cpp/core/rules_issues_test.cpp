#include <gtest/gtest.h>

#include "core/validate/issues.hpp"

namespace morvik::core::validate {
namespace {

TEST(IssuesTest, DebugFormsOfIssues) {
  const SecretId id{HashValue{{1, 2, 255}}};
  const std::pair<ValidationIssue, const char*> cases[] = {
      {ValidationIssue::InvalidStructure{"invalid grant"}, R"(InvalidStructure("invalid grant"))"},
      {ValidationIssue::InvalidStructure{"a \"b\" \\ c\n\t\x01"}, R"(InvalidStructure("a \"b\" \\ c\n\t\u{1}"))"},
      {ValidationIssue::InvalidSignature{record_key::Secret{id}},
       "InvalidSignature(Secret { secret_id: SecretId(HashValue([1, 2, 255])) })"},
      {ValidationIssue::InvalidSignature{record_key::VaultRoot{}}, "InvalidSignature(VaultRoot)"},
      {ValidationIssue::UnknownSignerKey{HashValue{{7}}}, "UnknownSignerKey(HashValue([7]))"},
      {ValidationIssue::RootNotTrusted{}, "RootNotTrusted"},
      {ValidationIssue::AmbiguousRoot{}, "AmbiguousRoot"},
      {ValidationIssue::AuthorityDidNotConverge{}, "AuthorityDidNotConverge"},
      {ValidationIssue::FormatVersionRegression{2, 1}, "FormatVersionRegression { remembered: 2, current: 1 }"},
  };
  for (const auto& [issue, expected] : cases) EXPECT_EQ(debug_string(issue), expected);
}

TEST(IssuesTest, DebugFormsOfWarnings) {
  EXPECT_EQ(debug_string(ValidationWarning{ValidationWarning::UnknownRecordsIgnored{3}}), "UnknownRecordsIgnored(3)");
  EXPECT_EQ(debug_string(ValidationWarning{ValidationWarning::AmbiguousSignerKey{HashValue{{0, 10}}}}),
            "AmbiguousSignerKey(HashValue([0, 10]))");
}

}  // namespace
}  // namespace morvik::core::validate
