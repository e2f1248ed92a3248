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
      {ValidationIssue::DeletionWorkLimitExceeded{}, "DeletionWorkLimitExceeded"},
      {ValidationIssue::FormatVersionRegression{2, 1}, "FormatVersionRegression { remembered: 2, current: 1 }"},
  };
  for (const auto& [issue, expected] : cases) EXPECT_EQ(debug_string(issue), expected);
}

// The message shows exactly what it holds, on one line, whatever it holds.
TEST(IssuesTest, MessageIsQuoted) {
  const std::pair<std::string, const char*> cases[] = {
      {"", R"("")"},
      {"it's caf\xc3\xa9 \xce\xb1\xce\xb2", "\"it's caf\xc3\xa9 \xce\xb1\xce\xb2\""},
      {std::string("a\0b", 3), R"("a\0b")"},
      {"\x7f", R"("\u{7f}")"},
      // A C1 control, a line separator, a zero-width space and a byte-order mark.
      {"\xc2\x85|\xe2\x80\xa8|\xe2\x80\x8b|\xef\xbb\xbf", R"("\u{85}|\u{2028}|\u{200b}|\u{feff}")"},
      // A space of another width, and a combining accent that would fuse with the quote.
      {"\xc2\xa0|\xcc\x81", R"("\u{a0}|\u{301}")"},
      // A skin-tone modifier stands on its own.
      {"\xf0\x9f\x91\x8b\xf0\x9f\x8f\xbd", "\"\xf0\x9f\x91\x8b\xf0\x9f\x8f\xbd\""},
      // Bytes that are not UTF-8, each on its own.
      {"a\xff\xc3", "\"a\xef\xbf\xbd\xef\xbf\xbd\""},
  };
  for (const auto& [message, expected] : cases) {
    EXPECT_EQ(debug_string(ValidationIssue{ValidationIssue::InvalidStructure{message}}),
              std::string("InvalidStructure(") + expected + ")")
        << message;
  }
}

TEST(IssuesTest, DebugFormsOfWarnings) {
  EXPECT_EQ(debug_string(ValidationWarning{ValidationWarning::UnknownRecordsIgnored{3}}), "UnknownRecordsIgnored(3)");
  EXPECT_EQ(debug_string(ValidationWarning{ValidationWarning::AmbiguousSignerKey{HashValue{{0, 10}}}}),
            "AmbiguousSignerKey(HashValue([0, 10]))");
}

}  // namespace
}  // namespace morvik::core::validate
