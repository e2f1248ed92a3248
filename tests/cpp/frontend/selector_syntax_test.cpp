#include "frontend/selector.hpp"

#include <gtest/gtest.h>

#include "core/quoted_form.hpp"

namespace morvik::frontend {
namespace {

using core::SecretLabelV1;
using core::SecretSelectorV1;
namespace reason = selector_reason;

struct Accepted {
  std::string text;
  SecretSelectorV1 selector;
  std::string canonical;
};

// "é" written precomposed and as "e" with a combining acute accent.
const std::string kComposedE = "\u00e9";
const std::string kDecomposedE = "e\u0301";

TEST(SelectorSyntax, ParsesEveryAcceptedFormAndWritesItsCanonicalText) {
  const std::vector<Accepted> cases = {
      {"app/db", {{"app", "db"}, {}}, "app/db"},
      {"app/db@region=eu&env=prod", {{"app", "db"}, {{"env", "prod"}, {"region", "eu"}}}, "app/db@env=prod&region=eu"},
      {"\"a/b\"/c", {{"a/b", "c"}, {}}, "\"a/b\"/c"},
      {"a\\/b", {{"a/b"}, {}}, "\"a/b\""},
      {"a@k=v=w", {{"a"}, {{"k", "v=w"}}}, "a@k=\"v=w\""},
      {"a@k=v@x", {{"a"}, {{"k", "v@x"}}}, "a@k=\"v@x\""},
      {"a b", {{"a b"}, {}}, "a b"},
      {" a ", {{" a "}, {}}, " a "},
      {"App/DB", {{"App", "DB"}, {}}, "App/DB"},
      {"a!b", {{"a!b"}, {}}, "\"a!b\""},
      {"a\"\"b", {{"ab"}, {}}, "ab"},
      {"\"a\"b\"c\"", {{"abc"}, {}}, "abc"},
      {"\"a\\\"b\"", {{"a\"b"}, {}}, "\"a\\\"b\""},
      {"a\\\\b", {{"a\\b"}, {}}, "\"a\\\\b\""},
      {"\\a\\b", {{"ab"}, {}}, "ab"},
      {"\u65e5\u672c/\u00fcber", {{"\u65e5\u672c", "\u00fcber"}, {}}, "\u65e5\u672c/\u00fcber"},
      {"a@\"k&x\"=\"v/w\"", {{"a"}, {{"k&x", "v/w"}}}, "a@\"k&x\"=\"v/w\""},
      {"a@k\\=x=v", {{"a"}, {{"k=x", "v"}}}, "a@\"k=x\"=v"},
      {"a@b=2&a=1&ab=3", {{"a"}, {{"a", "1"}, {"ab", "3"}, {"b", "2"}}}, "a@a=1&ab=3&b=2"},
      {"a@B=1&a=2", {{"a"}, {{"B", "1"}, {"a", "2"}}}, "a@B=1&a=2"},
      {"a\\@b", {{"a@b"}, {}}, "\"a@b\""},
      {"a'b", {{"a'b"}, {}}, "a'b"},
      // Segments, keys and values are stored in NFC.
      {kDecomposedE + "/x@" + kDecomposedE + "=" + kDecomposedE,
       {{kComposedE, "x"}, {{kComposedE, kComposedE}}},
       kComposedE + "/x@" + kComposedE + "=" + kComposedE},
      // In byte order "e"+U+0301 comes before "f", its NFC form after it.
      {"a@" + kDecomposedE + "=1&f=2", {{"a"}, {{"f", "2"}, {kComposedE, "1"}}}, "a@f=2&" + kComposedE + "=1"},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(c.text);
    const auto parsed = parse_secret_selector(c.text);
    ASSERT_TRUE(parsed.has_value()) << parsed.error().message();
    EXPECT_EQ(*parsed, c.selector);
    EXPECT_EQ(selector_string(*parsed), c.canonical);
    const auto again = parse_secret_selector(c.canonical);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again, *parsed);
  }
}

TEST(SelectorSyntax, RefusesWithTheReasonAndTheWholeText) {
  const std::vector<std::pair<std::string, std::string_view>> cases = {
      {"", reason::kEmpty},
      {"@k=v", reason::kEmpty},
      {"a//b", reason::kEmptySegment},
      {"a/", reason::kEmptySegment},
      {"/a", reason::kEmptySegment},
      {"\"\"", reason::kEmptySegment},
      {"a/\"\"@k=v", reason::kEmptySegment},
      {"a@", reason::kLabelShape},
      {"a@k", reason::kLabelShape},
      {"a@k=v&", reason::kLabelShape},
      {"a@k=v&&j=w", reason::kLabelShape},
      {"a@\"k=v", reason::kLabelShape},
      {"a@k=", reason::kEmptyLabelPart},
      {"a@=v", reason::kEmptyLabelPart},
      {"a@\"\"=v", reason::kEmptyLabelPart},
      {"a@k=v&k=w", reason::kDuplicateKey},
      {"a@k=w&k=v", reason::kDuplicateKey},
      {"a@" + kDecomposedE + "=1&" + kComposedE + "=2", reason::kDuplicateKey},
      {"a\\", reason::kDanglingEscape},
      {"\"a\\", reason::kDanglingEscape},
      {"a@k=v\\", reason::kDanglingEscape},
      {"a\"b", reason::kUnterminatedQuote},
      {"a@k=\"v", reason::kUnterminatedQuote},
      {"a/b\"/c", reason::kUnterminatedQuote},
      {"a\xff", reason::kNotUtf8},
      // The path is checked before any label.
      {"a//b@k=v&k=w", reason::kEmptySegment},
  };
  for (const auto& [text, why] : cases) {
    SCOPED_TRACE(text);
    const auto parsed = parse_secret_selector(text);
    ASSERT_FALSE(parsed.has_value());
    const auto* invalid = parsed.error().as<FrontendError::InvalidSelector>();
    ASSERT_NE(invalid, nullptr);
    EXPECT_EQ(invalid->input, text);
    EXPECT_EQ(invalid->reason, why);
    EXPECT_EQ(parsed.error().message(), "invalid selector " + core::quoted_form(text) + ": " + std::string(why));
  }
}

TEST(SelectorSyntax, SplittersKeepQuotesAndEscapes) {
  using Pieces = std::vector<std::string_view>;
  EXPECT_EQ(split_unquoted("a/\"b/c\"/d", '/'), (Pieces{"a", "\"b/c\"", "d"}));
  EXPECT_EQ(split_unquoted("a\\/b/c", '/'), (Pieces{"a\\/b", "c"}));
  EXPECT_EQ(split_unquoted("", '/'), (Pieces{""}));
  EXPECT_EQ(split_unquoted("a/", '/'), (Pieces{"a", ""}));
  EXPECT_EQ(split_unquoted("\"a/b", '/'), (Pieces{"\"a/b"}));

  using Split = std::optional<std::pair<std::string_view, std::string_view>>;
  EXPECT_EQ(split_once_unquoted("k=v=w", '='), (Split{{"k", "v=w"}}));
  EXPECT_EQ(split_once_unquoted("\"k=v\"", '='), Split{});
  EXPECT_EQ(split_once_unquoted("k\\==v", '='), (Split{{"k\\=", "v"}}));
  EXPECT_EQ(split_once_unquoted("=", '='), (Split{{"", ""}}));
}

TEST(SelectorSyntax, DecodeFieldReportsTheWholeTextNotThePiece) {
  const auto decoded = decode_field("\"x", "app/\"x");
  ASSERT_FALSE(decoded.has_value());
  EXPECT_EQ(decoded.error().as<FrontendError::InvalidSelector>()->input, "app/\"x");
  EXPECT_EQ(decode_field("", "whole"), std::string());
}

TEST(SelectorSyntax, EscapeSegmentQuotesOnlyWhatTheSyntaxNeeds) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "\"\""},
      {"plain", "plain"},
      {"a b", "a b"},
      {"a-b_c.d:e", "a-b_c.d:e"},
      {"a'b", "a'b"},
      {"\u00fcber", "\u00fcber"},
      {"a!b", "\"a!b\""},
      {"a&b", "\"a&b\""},
      {"a/b", "\"a/b\""},
      {"a=b", "\"a=b\""},
      {"a@b", "\"a@b\""},
      {"a\"b", "\"a\\\"b\""},
      {"a\\b", "\"a\\\\b\""},
  };
  for (const auto& [segment, written] : cases) EXPECT_EQ(escape_segment(segment), written) << segment;
}

TEST(SelectorSyntax, CanonicalTextOfSelectorsThatDoNotParseStillPrints) {
  EXPECT_EQ(selector_string(SecretSelectorV1{}), "");
  EXPECT_EQ(selector_string(SecretSelectorV1{{"a", ""}, {{"", "v"}}}), "a/\"\"@\"\"=v");
  EXPECT_EQ(escape_tuple({"a", "b/c"}), "a/\"b/c\"");
  EXPECT_FALSE(parse_secret_selector("a/\"\"@\"\"=v").has_value());
}

TEST(SelectorSyntax, CanonicalSelectorNormalisesSortsAndRefusesKeysThatMeet) {
  auto built = canonical_selector({kDecomposedE}, {{"z", kDecomposedE}, {"a", "1"}});
  ASSERT_TRUE(built.has_value());
  EXPECT_EQ(*built, (SecretSelectorV1{{kComposedE}, {{"a", "1"}, {"z", kComposedE}}}));

  EXPECT_EQ(canonical_selector({"a"}, {{kComposedE, "1"}, {kDecomposedE, "1"}}),
            std::unexpected(reason::kDuplicateKey));
  EXPECT_EQ(canonical_selector({"a\xc3"}, {}), std::unexpected(reason::kNotUtf8));
}

}  // namespace
}  // namespace morvik::frontend
