#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "store/path.hpp"

namespace morvik::store {
namespace {

struct PathCase {
  const char* path;
  std::optional<const char*> parent;
  std::optional<const char*> final_name;
};

TEST(PathTest, ParentAndFinalNameFollowTheComponents) {
  const PathCase cases[] = {
      {"", std::nullopt, std::nullopt},
      {"/", std::nullopt, std::nullopt},
      {".", "", std::nullopt},
      {"..", "", std::nullopt},
      {"vault.cord", "", "vault.cord"},
      {".morvik/vault.cord", ".morvik", "vault.cord"},
      {"/vault.cord", "/", "vault.cord"},
      {"/a/b/", "/a", "b"},
      {"a//b", "a", "b"},
      {"a/./b", "a", "b"},
      {"a/.", "", "a"},
      {"./a", ".", "a"},
      {"a/..", "a", std::nullopt},
      {"//x", "/", "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Path path(c.path);
    const auto parent = path.parent();
    ASSERT_EQ(parent.has_value(), c.parent.has_value());
    if (parent) {
      EXPECT_EQ(parent->bytes(), *c.parent);
    }
    const auto name = path.final_name();
    ASSERT_EQ(name.has_value(), c.final_name.has_value());
    if (name) {
      EXPECT_EQ(*name, *c.final_name);
    }
  }
}

TEST(PathTest, JoinAddsOneSeparator) {
  EXPECT_EQ(Path("").join("a").bytes(), "a");
  EXPECT_EQ(Path("/").join("a").bytes(), "/a");
  EXPECT_EQ(Path("x/").join("a").bytes(), "x/a");
  EXPECT_EQ(Path("x").join("a").bytes(), "x/a");
}

TEST(PathTest, NonUtf8BytesAreCarriedAndDisplayedLossily) {
  const Path path(std::string("/tmp/a\xff" "b/\xc3\xa9\xe2\x82"));
  EXPECT_EQ(path.parent()->bytes(), std::string("/tmp/a\xff" "b"));
  EXPECT_EQ(path.display(), "/tmp/a\xEF\xBF\xBD" "b/\xc3\xa9\xEF\xBF\xBD");
}

TEST(PathTest, AnchoredPathActsAbsolutelyAndShowsAsWritten) {
  const Path anchored = Path(".morvik/vault.cord").anchored_at(Path("/work/app"));
  EXPECT_EQ(anchored.bytes(), "/work/app/.morvik/vault.cord");
  EXPECT_EQ(anchored.display(), ".morvik/vault.cord");
  EXPECT_EQ(anchored, Path("/work/app/.morvik/vault.cord"));

  const Path lock = anchored.parent()->join("vault.cord.lock");
  EXPECT_EQ(lock.bytes(), "/work/app/.morvik/vault.cord.lock");
  EXPECT_EQ(lock.display(), ".morvik/vault.cord.lock");
  // Up to the written text's first component it is shown as written; above
  // it only the absolute form names the directory.
  const Path dot_dir = *anchored.parent();
  EXPECT_EQ(dot_dir.display(), ".morvik");
  EXPECT_EQ(dot_dir.parent()->bytes(), "/work/app");
  EXPECT_EQ(dot_dir.parent()->display(), "");
  EXPECT_EQ(dot_dir.parent()->parent()->display(), "/work");

  const Path empty = Path("").anchored_at(Path("/work/app"));
  EXPECT_EQ(empty.bytes(), "/work/app");
  EXPECT_EQ(empty.join("x").display(), "x");
  const Path absolute = Path("/etc/x").anchored_at(Path("/work/app"));
  EXPECT_EQ(absolute.bytes(), "/etc/x");
  EXPECT_EQ(absolute.display(), "/etc/x");
  const Path not_utf8 = Path(std::string("s\xff")).anchored_at(Path("/w"));
  EXPECT_EQ(not_utf8.display(), "s\xEF\xBF\xBD");
}

TEST(PathTest, LossyUtf8ReplacesEachMaximalInvalidSubpart) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"\xf0\x9f\x94\x91", "\xf0\x9f\x94\x91"},
      // A truncated 3-byte sequence is one replacement, not two.
      {"\xe2\x82" "a", "\xEF\xBF\xBD" "a"},
      // Surrogates and overlong forms are invalid byte by byte.
      {"\xed\xa0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xc0\xaf", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xf4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\x80", "\xEF\xBF\xBD"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(lossy_utf8(input), expected);
}

}  // namespace
}  // namespace morvik::store
