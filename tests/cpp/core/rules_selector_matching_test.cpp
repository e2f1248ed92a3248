#include <gtest/gtest.h>

#include "core/authz/selector_matching.hpp"
#include "support/core/selectors.hpp"

namespace morvik::core::authz {
namespace {

using namespace morvik::testing;

struct MatchCase {
  const char* name;
  KeyspaceSelectorV1 keyspace;
  SecretSelectorV1 secret;
  bool expected;
};

TEST(SelectorMatchesTest, TupleMatchers) {
  const MatchCase cases[] = {
      {"any matches the empty selector", any_keyspace(), secret({}), true},
      {"any matches a labelled path", any_keyspace(), secret({"app", "db"}, {{"env", "prod"}}), true},
      {"empty exact matches no segments", exact({}), secret({}), true},
      {"empty exact rejects one segment", exact({}), secret({"app"}), false},
      {"exact equal", exact({"app", "db"}), secret({"app", "db"}), true},
      {"exact rejects shorter", exact({"app", "db"}), secret({"app"}), false},
      {"exact rejects longer", exact({"app", "db"}), secret({"app", "db", "x"}), false},
      {"exact rejects other segment", exact({"app", "db"}), secret({"app", "web"}), false},
      {"empty prefix matches everything", prefix({}), secret({}), true},
      {"prefix matches longer path", prefix({"app"}), secret({"app", "db"}), true},
      {"prefix matches itself", prefix({"app"}), secret({"app"}), true},
      {"prefix compares case", prefix({"app"}), secret({"App", "db"}), false},
      {"prefix compares whole segments", prefix({"app"}), secret({"application"}), false},
      {"prefix rejects shorter path", prefix({"app", "db"}), secret({"app"}), false},
      {"prefix rejects empty path", prefix({"app"}), secret({}), false},
  };
  for (const auto& c : cases) EXPECT_EQ(selector_matches(c.keyspace, c.secret), c.expected) << c.name;
}

TEST(SelectorMatchesTest, LabelMatchers) {
  const MatchCase cases[] = {
      {"no matchers ignore labels", any_keyspace(), secret({}, {{"env", "prod"}}), true},
      {"present with label", any_keyspace({present("env")}), secret({}, {{"env", "x"}}), true},
      {"present without label", any_keyspace({present("env")}), secret({}, {{"team", "x"}}), false},
      {"present on unlabelled secret", any_keyspace({present("env")}), secret({}), false},
      {"equals same value", any_keyspace({equals("env", "prod")}), secret({}, {{"env", "prod"}}), true},
      {"equals other value", any_keyspace({equals("env", "prod")}), secret({}, {{"env", "dev"}}), false},
      {"equals compares case", any_keyspace({equals("env", "prod")}), secret({}, {{"env", "Prod"}}), false},
      {"equals without label", any_keyspace({equals("env", "prod")}), secret({}), false},
      {"in listed value", any_keyspace({in("env", {"dev", "prod"})}), secret({}, {{"env", "prod"}}), true},
      {"in unlisted value", any_keyspace({in("env", {"dev", "prod"})}), secret({}, {{"env", "test"}}), false},
      {"in without label", any_keyspace({in("env", {"dev", "prod"})}), secret({}), false},
      {"empty in never matches", any_keyspace({in("env", {})}), secret({}, {{"env", "prod"}}), false},
      {"absent rejects the key whatever its value", any_keyspace({absent("env")}), secret({}, {{"env", ""}}), false},
      {"absent with other label", any_keyspace({absent("env")}), secret({}, {{"team", "x"}}), true},
      {"absent on unlabelled secret", any_keyspace({absent("env")}), secret({}), true},
      {"keys compare case", any_keyspace({absent("Env")}), secret({}, {{"env", "x"}}), true},
      {"only absent matchers pass an unlabelled secret", any_keyspace({absent("a"), absent("b")}), secret({}), true},
      {"one non-absent matcher fails an unlabelled secret", any_keyspace({absent("a"), present("b")}), secret({}),
       false},
      {"every matcher must pass", any_keyspace({present("env"), absent("team")}),
       secret({}, {{"env", "x"}, {"team", "y"}}), false},
      {"unnamed labels do not matter", any_keyspace({equals("env", "x")}), secret({}, {{"env", "x"}, {"team", "y"}}),
       true},
      {"the first label with the key decides", any_keyspace({equals("env", "b")}),
       secret({}, {{"env", "a"}, {"env", "b"}}), false},
      {"the first label with the key decides out of order too", any_keyspace({equals("env", "b")}),
       secret({}, {{"z", ""}, {"env", "b"}, {"a", ""}, {"env", "a"}}), true},
      {"a key found out of order", any_keyspace({present("a"), absent("m"), present("z")}),
       secret({}, {{"z", ""}, {"a", ""}}), true},
      {"tuple and labels both decide", prefix({"app"}, {present("env")}), secret({"web"}, {{"env", "x"}}), false},
  };
  for (const auto& c : cases) EXPECT_EQ(selector_matches(c.keyspace, c.secret), c.expected) << c.name;
}

struct SubsumeCase {
  const char* name;
  KeyspaceSelectorV1 outer;
  KeyspaceSelectorV1 inner;
  bool expected;
};

TEST(SelectorSubsumesTest, TupleTable) {
  const SubsumeCase cases[] = {
      {"any / any", any_keyspace(), any_keyspace(), true},
      {"any / exact", any_keyspace(), exact({"a"}), true},
      {"any / prefix", any_keyspace(), prefix({"a"}), true},
      {"exact / any", exact({"a"}), any_keyspace(), false},
      {"exact / equal exact", exact({"a", "b"}), exact({"a", "b"}), true},
      {"exact / longer exact", exact({"a"}), exact({"a", "b"}), false},
      {"exact / other exact", exact({"a"}), exact({"b"}), false},
      {"empty exact / empty exact", exact({}), exact({}), true},
      {"exact / prefix", exact({"a"}), prefix({"a"}), false},
      {"prefix / any", prefix({"a"}), any_keyspace(), false},
      {"prefix / exact of itself", prefix({"a"}), exact({"a"}), true},
      {"prefix / longer exact", prefix({"a"}), exact({"a", "b"}), true},
      {"prefix / empty exact", prefix({"a"}), exact({}), false},
      {"prefix / other exact", prefix({"a"}), exact({"b", "a"}), false},
      {"prefix / itself", prefix({"a"}), prefix({"a"}), true},
      {"prefix / longer prefix", prefix({"a"}), prefix({"a", "b"}), true},
      {"prefix / shorter prefix", prefix({"a", "b"}), prefix({"a"}), false},
      {"prefix / other prefix", prefix({"a"}), prefix({"ab"}), false},
  };
  for (const auto& c : cases) EXPECT_EQ(selector_subsumes(c.outer, c.inner), c.expected) << c.name;
}

TEST(SelectorSubsumesTest, LabelTable) {
  const SubsumeCase cases[] = {
      {"present / present", any_keyspace({present("env")}), any_keyspace({present("env")}), true},
      {"present / equals", any_keyspace({present("env")}), any_keyspace({equals("env", "x")}), true},
      {"present / in", any_keyspace({present("env")}), any_keyspace({in("env", {"x"})}), true},
      {"present / empty in", any_keyspace({present("env")}), any_keyspace({in("env", {})}), true},
      {"present / absent", any_keyspace({present("env")}), any_keyspace({absent("env")}), false},

      {"equals / present", any_keyspace({equals("env", "v")}), any_keyspace({present("env")}), false},
      {"equals / same equals", any_keyspace({equals("env", "v")}), any_keyspace({equals("env", "v")}), true},
      {"equals / other equals", any_keyspace({equals("env", "v")}), any_keyspace({equals("env", "w")}), false},
      {"equals / in of it alone", any_keyspace({equals("env", "v")}), any_keyspace({in("env", {"v"})}), true},
      {"equals / wider in", any_keyspace({equals("env", "v")}), any_keyspace({in("env", {"v", "w"})}), false},
      {"equals / empty in", any_keyspace({equals("env", "v")}), any_keyspace({in("env", {})}), true},
      {"equals / absent", any_keyspace({equals("env", "v")}), any_keyspace({absent("env")}), false},

      {"in / present", any_keyspace({in("env", {"v", "w"})}), any_keyspace({present("env")}), false},
      {"in / listed equals", any_keyspace({in("env", {"v", "w"})}), any_keyspace({equals("env", "w")}), true},
      {"in / unlisted equals", any_keyspace({in("env", {"v", "w"})}), any_keyspace({equals("env", "x")}), false},
      {"empty in / equals", any_keyspace({in("env", {})}), any_keyspace({equals("env", "x")}), false},
      {"in / sub-in", any_keyspace({in("env", {"u", "v", "w"})}), any_keyspace({in("env", {"u", "w"})}), true},
      {"in / wider in", any_keyspace({in("env", {"v"})}), any_keyspace({in("env", {"v", "w"})}), false},
      {"in / empty in", any_keyspace({in("env", {"v"})}), any_keyspace({in("env", {})}), true},
      {"empty in / empty in", any_keyspace({in("env", {})}), any_keyspace({in("env", {})}), true},
      {"in / absent", any_keyspace({in("env", {"v"})}), any_keyspace({absent("env")}), false},

      {"absent / present", any_keyspace({absent("env")}), any_keyspace({present("env")}), false},
      {"absent / equals", any_keyspace({absent("env")}), any_keyspace({equals("env", "v")}), false},
      {"absent / in", any_keyspace({absent("env")}), any_keyspace({in("env", {"v"})}), false},
      {"absent / absent", any_keyspace({absent("env")}), any_keyspace({absent("env")}), true},
  };
  for (const auto& c : cases) EXPECT_EQ(selector_subsumes(c.outer, c.inner), c.expected) << c.name;
}

TEST(SelectorSubsumesTest, LabelLists) {
  const SubsumeCase cases[] = {
      {"outer without matchers", prefix({"a"}), prefix({"a"}, {absent("env")}), true},
      {"inner without matchers", any_keyspace({present("env")}), any_keyspace(), false},
      {"inner without matcher on the key", any_keyspace({present("env")}), any_keyspace({present("team")}), false},
      {"inner matchers on other keys only narrow", any_keyspace({present("env")}),
       any_keyspace({equals("env", "x"), present("team")}), true},
      {"every outer matcher must pass", any_keyspace({present("env"), absent("team")}),
       any_keyspace({equals("env", "x")}), false},
      {"the first inner matcher with the key decides", any_keyspace({present("env")}),
       any_keyspace({equals("env", "x"), absent("env")}), true},
      {"the first inner matcher with the key decides out of order too", any_keyspace({present("env")}),
       any_keyspace({present("z"), absent("env"), equals("env", "x")}), false},
      {"in / sub-in of a list out of order", any_keyspace({in("env", {"w", "u", "v"})}),
       any_keyspace({in("env", {"u", "w"})}), true},
      {"in / wider in of a list out of order", any_keyspace({in("env", {"w", "u"})}),
       any_keyspace({in("env", {"u", "v"})}), false},
      {"labels cannot save a wider tuple", prefix({"a"}, {present("env")}), any_keyspace({present("env")}), false},
  };
  for (const auto& c : cases) EXPECT_EQ(selector_subsumes(c.outer, c.inner), c.expected) << c.name;
}

// Long lists in their stored order: every key and value is found wherever it
// stands, and nothing between them is.
TEST(SelectorMatchingTest, LongAscendingLists) {
  std::vector<std::pair<std::string, std::string>> labels;
  Segments values;
  for (int i = 0; i < 1000; ++i) {
    const std::string text = std::to_string(10000 + 2 * i);
    labels.emplace_back(text, text);
    values.push_back(text);
  }
  const SecretSelectorV1 labelled = secret({}, labels);
  const KeyspaceSelectorV1 within = any_keyspace({in("env", values)});
  for (int i = 0; i < 1000; i += 111) {
    const std::string key = std::to_string(10000 + 2 * i);
    const std::string between = std::to_string(10000 + 2 * i + 1);
    EXPECT_TRUE(selector_matches(any_keyspace({equals(key, key)}), labelled)) << key;
    EXPECT_TRUE(selector_matches(any_keyspace({absent(between)}), labelled)) << between;
    EXPECT_TRUE(selector_subsumes(within, any_keyspace({equals("env", key)}))) << key;
    EXPECT_FALSE(selector_subsumes(within, any_keyspace({in("env", {key, between})}))) << between;
  }
  EXPECT_TRUE(selector_subsumes(within, any_keyspace({in("env", values)})));
  EXPECT_TRUE(selector_matches(any_keyspace({present("10000"), present("11998")}), labelled));
}

}  // namespace
}  // namespace morvik::core::authz
