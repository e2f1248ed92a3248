#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/bounded_read.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::store {
namespace {

using namespace testing;

TEST(BoundedReadTest, ReadsWholeFileUpToTheLimit) {
  TempDir dir;
  write_file(dir / "f", "hello");
  auto exact = read_file_bounded(dir / "f", 5);
  ASSERT_TRUE(exact);
  EXPECT_EQ(std::string(exact->begin(), exact->end()), "hello");

  auto over = read_file_bounded(dir / "f", 4);
  ASSERT_FALSE(over);
  EXPECT_EQ(over.error().kind, IoErrorKind::InvalidData);
  EXPECT_EQ(over.error().text, "file is 5 bytes, above the supported maximum of 4");
}

// A large read must not need twice its size in memory.
TEST(BoundedReadTest, BufferIsAllocatedOnceForTheReportedSize) {
  TempDir dir;
  const cord::Bytes content(1 << 20, 0x5a);
  write_file(dir / "f", content);
  auto bytes = read_file_bounded(dir / "f", content.size());
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, content);
  EXPECT_EQ(bytes->capacity(), content.size());
}

// A file whose content goes beyond its reported size (as one that grows while
// it is read): procfs reports 0 bytes for files that hold more.
TEST(BoundedReadTest, ContentBeyondTheReportedSizeIsReadUpToTheLimit) {
  auto whole = read_file_bounded(Path("/proc/self/status"), 1 << 20);
  ASSERT_TRUE(whole);
  EXPECT_GT(whole->size(), 10u);
  auto over = read_file_bounded(Path("/proc/self/status"), 10);
  ASSERT_FALSE(over);
  EXPECT_EQ(over.error().kind, IoErrorKind::InvalidData);
  EXPECT_EQ(over.error().text, "file exceeds the supported maximum of 10 bytes");
}

TEST(BoundedReadTest, EmptyFileIsAnEmptyVector) {
  TempDir dir;
  write_file(dir / "empty", "");
  auto bytes = read_file_bounded(dir / "empty", 0);
  ASSERT_TRUE(bytes);
  EXPECT_TRUE(bytes->empty());
}

TEST(BoundedReadTest, AbsentFileIsNotFound) {
  TempDir dir;
  auto missing = read_file_bounded(dir / "nothing", 10);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind, IoErrorKind::NotFound);
  EXPECT_EQ(missing.error().text, "No such file or directory (os error 2)");
}

TEST(BoundedReadTest, RefusesEverythingButARegularFile) {
  TempDir dir;
  write_file(dir / "target", "x");
  make_symlink((dir / "target").bytes(), dir / "link");
  make_dir(dir / "dir");
  make_fifo(dir / "fifo");

  auto link = read_file_bounded(dir / "link", 10);
  ASSERT_FALSE(link);
  EXPECT_EQ(link.error().text, "Too many levels of symbolic links (os error 40)");

  // The FIFO has no writer: a blocking open would hang here.
  for (const char* name : {"dir", "fifo"}) {
    SCOPED_TRACE(name);
    auto refused = read_file_bounded(dir / name, 10);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, IoErrorKind::InvalidInput);
    EXPECT_EQ(refused.error().text, "not a regular file");
  }
}

TEST(BoundedReadTest, LinksAboveTheFileAreFollowed) {
  TempDir dir;
  make_dir(dir / "real");
  write_file(dir / "real" / "f", "abc");
  make_symlink((dir / "real").bytes(), dir / "alias");
  auto bytes = read_file_bounded(dir / "alias" / "f", 3);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 3u);
}

TEST(BoundedReadTest, PathWithZeroByteIsRefused) {
  TempDir dir;
  write_file(dir / "f", "x");
  auto refused = read_file_bounded(Path((dir / "f").bytes() + std::string(1, '\0') + "g"), 10);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind, IoErrorKind::InvalidInput);
}

TEST(FileHoldsTest, ComparesTheWholeFile) {
  TempDir dir;
  // Larger than one piece of the comparison, differing only in its last byte.
  cord::Bytes large(200'000, 0x5a);
  write_file(dir / "large", large);
  write_file(dir / "small", "hello");
  const struct {
    const char* file;
    cord::Bytes expected;
    bool holds;
  } cases[] = {
      {"small", cord::Bytes{'h', 'e', 'l', 'l', 'o'}, true},
      {"small", cord::Bytes{'h', 'e', 'l', 'l', 'O'}, false},
      {"small", cord::Bytes{'h', 'e', 'l', 'l'}, false},
      {"small", cord::Bytes{'h', 'e', 'l', 'l', 'o', '!'}, false},
      {"large", large, true},
      {"large", [&] { auto last = large; last.back() ^= 1; return last; }(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " of " + std::to_string(c.expected.size()) + " bytes");
    auto holds = file_holds(dir / c.file, c.expected);
    ASSERT_TRUE(holds);
    EXPECT_EQ(*holds, c.holds);
  }
}

// A file given as pieces in several buffers is the pieces one after the
// other, wherever the comparison's chunks begin and end.
TEST(FileHoldsTest, ComparesPiecesInOrder) {
  TempDir dir;
  // No two neighbouring bytes alike, so that an offset slip shows.
  cord::Bytes content(200'000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i % 251);
  write_file(dir / "f", content);
  const cord::ByteView whole(content);
  cord::Bytes flipped(whole.begin() + 65'536, whole.begin() + 65'546);
  flipped[0] ^= 1;
  const struct {
    const char* name;
    std::vector<cord::ByteView> pieces;
    bool holds;
  } cases[] = {
      {"one piece", {whole}, true},
      {"split at a chunk's end", {whole.first(65'536), whole.subspan(65'536)}, true},
      {"empty pieces and a split across a chunk",
       {{}, whole.first(1), {}, whole.subspan(1, 70'000), whole.subspan(70'001), {}},
       true},
      {"pieces swapped", {whole.subspan(100'000), whole.first(100'000)}, false},
      {"first byte of a later piece differs", {whole.first(65'536), flipped, whole.subspan(65'546)}, false},
      {"one byte short", {whole.first(65'536), whole.subspan(65'536, 134'463)}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto holds = file_holds(dir / "f", Pieces(c.pieces));
    ASSERT_TRUE(holds);
    EXPECT_EQ(*holds, c.holds);
  }
}

// Content beyond the reported size (procfs reports 0 bytes) is not taken
// for the end of the file.
TEST(FileHoldsTest, ContentBeyondTheReportedSizeDiffers) {
  auto holds = file_holds(Path("/proc/self/status"), {});
  ASSERT_TRUE(holds);
  EXPECT_FALSE(*holds);
}

TEST(FileHoldsTest, RefusesWhatABoundedReadRefuses) {
  TempDir dir;
  write_file(dir / "target", "x");
  write_file(dir / "large", "hello");
  make_symlink((dir / "target").bytes(), dir / "link");
  make_fifo(dir / "fifo");
  const struct {
    const char* name;
    std::uint64_t max;
  } cases[] = {{"link", 10}, {"fifo", 10}, {"nothing", 10}, {"large", 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto holds = file_holds(dir / c.name, cord::Bytes{'x'}, c.max);
    ASSERT_FALSE(holds);
    const auto read = read_file_bounded(dir / c.name, c.max);
    EXPECT_EQ(holds.error().kind, read.error().kind);
    EXPECT_EQ(holds.error().text, read.error().text);
  }
}

}  // namespace
}  // namespace morvik::store
