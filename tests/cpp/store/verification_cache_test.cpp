#include <gtest/gtest.h>
#include <unistd.h>

#include "store/verification_cache.hpp"
#include "store/write_fault.hpp"
#include "support/store/fixtures.hpp"
#include "support/store/state_workspace.hpp"

namespace morvik::store {
namespace {

using namespace testing;
using core::HashValue;

VerificationCacheV1 sample_cache(const HashValue& root) {
  return VerificationCacheV1{root, 1, {hash_of(3), hash_of(1), hash_of(2)}, cord::Bytes(32, 0x50),
                             cord::Bytes(64, 0x51)};
}

class VerificationCacheTest : public StateWorkspaceTest {
 protected:
  Path file() const { return verification_cache_path(paths_, root_, alice_); }

  core::UserId alice_{hash_of(0x0A)};
  core::UserId bob_{hash_of(0x0B)};
};

TEST_F(VerificationCacheTest, MessageOfAnEmptySetIsRootVersionAndCount) {
  auto message = verification_cache_message(HashValue{{7, 8}}, 1, {});
  ASSERT_TRUE(message);
  EXPECT_EQ(*message, (cord::Bytes{0, 0, 0, 2, 7, 8, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
}

TEST_F(VerificationCacheTest, MessageIsTheStartOfTheCacheEncoding) {
  const VerificationCacheV1 cache = sample_cache(root_);
  auto message = verification_cache_message(cache.root, cache.version, cache.verified_hashes);
  auto whole = cord::serialize(cache);
  ASSERT_TRUE(message && whole);
  ASSERT_LT(message->size(), whole->size());
  EXPECT_TRUE(std::equal(message->begin(), message->end(), whole->begin()));
}

TEST_F(VerificationCacheTest, SignedCacheReadsItsMessageFromTheFile) {
  const VerificationCacheV1 cache = sample_cache(root_);
  ASSERT_TRUE(write_verification_cache_atomic(paths_, alice_, cache));
  const auto read = read_signed_verification_cache(paths_, root_, alice_);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->cache, cache);
  EXPECT_EQ(read->message, verification_cache_message(cache.root, cache.version, cache.verified_hashes).value());
  // A file that is not a cache reads as none, like the plain read.
  cord::Bytes damaged = read_file(file());
  damaged.pop_back();
  EXPECT_FALSE(decode_signed_verification_cache(damaged));
}

TEST_F(VerificationCacheTest, HashesListedInTheirOrderMakeTheFileTheSetMakes) {
  const VerificationCacheV1 cache = sample_cache(root_);
  ASSERT_TRUE(write_verification_cache_atomic(paths_, alice_, cache));
  // Hashes of one length: their order is their encodings' order.
  OrderedHashes listed{{cache.verified_hashes.begin(), cache.verified_hashes.end()}};
  EXPECT_EQ(verification_cache_message({cache.root, cache.version, listed}),
            verification_cache_message(cache.root, cache.version, cache.verified_hashes));
  ASSERT_TRUE(write_verification_cache_atomic(
      paths_, bob_, {cache.root, cache.version, listed, cache.signer_public_key, cache.signature}));
  EXPECT_EQ(read_file(verification_cache_path(paths_, root_, bob_)), read_file(file()));

  // Out of order, nothing is signed or written.
  const core::UserId carol{hash_of(0x0C)};
  std::swap(listed.elements.front(), listed.elements.back());
  EXPECT_FALSE(verification_cache_message({cache.root, cache.version, listed}));
  EXPECT_FALSE(write_verification_cache_atomic(
      paths_, carol, {cache.root, cache.version, listed, cache.signer_public_key, cache.signature}));
  EXPECT_FALSE(exists(verification_cache_path(paths_, root_, carol)));
}

TEST_F(VerificationCacheTest, WriteThenReadPrivately) {
  ScopedUmask umask(0);
  const VerificationCacheV1 cache = sample_cache(root_);
  ASSERT_TRUE(write_verification_cache_atomic(paths_, alice_, cache));
  EXPECT_EQ(file(), dir_ / "state" / hex_hash(root_) / hex_hash(alice_) / "cache.cord");
  EXPECT_EQ(mode_of(file()), 0600u);
  EXPECT_EQ(mode_of(*file().parent()), 0700u);
  const cord::Bytes bytes = read_file(file());
  EXPECT_EQ(cord::Bytes(bytes.begin(), bytes.begin() + 17),
            (cord::Bytes{'m', 'o', 'r', 'v', 'i', 'k', '-', 'c', 'a', 'c', 'h', 'e', 0, 0, 0, 0, 0}));
  EXPECT_EQ(read_verification_cache(paths_, root_, alice_), cache);
  // The path depends on the user passed in.
  EXPECT_EQ(read_verification_cache(paths_, root_, bob_), std::nullopt);
}

TEST_F(VerificationCacheTest, DirectoryFollowsTheCachesOwnRoot) {
  const HashValue other = hash_of(0xBB);
  ASSERT_TRUE(write_verification_cache_atomic(paths_, alice_, sample_cache(other)));
  EXPECT_EQ(read_verification_cache(paths_, root_, alice_), std::nullopt);
  EXPECT_EQ(read_verification_cache(paths_, other, alice_), sample_cache(other));
}

TEST_F(VerificationCacheTest, AnythingUnusableReadsAsNone) {
  ASSERT_TRUE(write_verification_cache_atomic(paths_, alice_, sample_cache(root_)));
  const cord::Bytes good = read_file(file());
  cord::Bytes wrong_magic = good;
  wrong_magic[0] = 'M';
  cord::Bytes variant_one = good;
  variant_one[16] = 1;
  const std::pair<const char*, cord::Bytes> cases[] = {
      {"empty", {}},
      {"12 bytes", cord::Bytes(good.begin(), good.begin() + 12)},
      {"wrong magic", wrong_magic},
      {"truncated", cord::Bytes(good.begin(), good.end() - 1)},
      {"variant 1", variant_one},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    write_file(file(), bytes);
    EXPECT_EQ(read_verification_cache(paths_, root_, alice_), std::nullopt);
  }
  write_file(file(), good);
  ASSERT_EQ(::truncate(file().bytes().c_str(), kMaxVerificationCacheBytes + 1), 0);
  EXPECT_EQ(read_verification_cache(paths_, root_, alice_), std::nullopt);
  ::unlink(file().bytes().c_str());
  EXPECT_EQ(read_verification_cache(paths_, root_, alice_), std::nullopt);
  make_symlink((dir_ / "x").bytes(), file());
  write_file(dir_ / "x", good);
  EXPECT_EQ(read_verification_cache(paths_, root_, alice_), std::nullopt);
  ::unlink(file().bytes().c_str());
  make_fifo(file());
  EXPECT_EQ(read_verification_cache(paths_, root_, alice_), std::nullopt);
}

TEST_F(VerificationCacheTest, SizeLimitIsCheckedBeforeWriting) {
  // Fill the key and signature fields (each within the decoder's length
  // limit) so that the whole file is exactly the limit.
  VerificationCacheV1 cache = sample_cache(root_);
  const std::size_t base = kVerificationCacheMagic.size() + cord::serialize(VerificationCacheStore{
                                                                 verification_cache_store::V1{cache}})
                                                                 ->size();
  const std::size_t extra = kMaxVerificationCacheBytes - base;
  cache.signer_public_key.resize(cache.signer_public_key.size() + extra / 2);
  cache.signature.resize(cache.signature.size() + extra - extra / 2);
  ASSERT_TRUE(write_verification_cache_atomic(paths_, alice_, cache));
  EXPECT_EQ(read_file(file()).size(), kMaxVerificationCacheBytes);
  EXPECT_EQ(read_verification_cache(paths_, root_, alice_), cache);

  ::unlink(file().bytes().c_str());
  cache.signature.push_back(0);
  auto written = write_verification_cache_atomic(paths_, alice_, cache);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "I/O error at " + file().display() +
                                           ": verification cache is 33554433 bytes, above the supported maximum of "
                                           "33554432");
  EXPECT_FALSE(exists(file()));
}

TEST_F(VerificationCacheTest, AFileHoldingTheSameCacheIsKept) {
  const VerificationCacheV1 cache = sample_cache(root_);
  ASSERT_TRUE(write_verification_cache_atomic(paths_, alice_, cache));
  int steps = 0;
  ScopedWriteFault count([&](WriteStep, const Path&) {
    ++steps;
    return 0;
  });
  ASSERT_TRUE(write_verification_cache_atomic(paths_, alice_, cache));
  EXPECT_EQ(steps, 0);
  VerificationCacheV1 other = cache;
  other.verified_hashes.insert(hash_of(4));
  ASSERT_TRUE(write_verification_cache_atomic(paths_, alice_, other));
  EXPECT_GT(steps, 0);
  EXPECT_EQ(read_verification_cache(paths_, root_, alice_), other);
}

TEST_F(VerificationCacheTest, ReadBackMismatchIsReported) {
  ScopedWriteFault tamper([&](WriteStep step, const Path& path) {
    if (step == WriteStep::ReadBack) write_file(path, "tampered");
    return 0;
  });
  auto written = write_verification_cache_atomic(paths_, alice_, sample_cache(root_));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(),
            "I/O error at " + file().display() + ": verification cache bytes differed immediately after atomic write");
}

}  // namespace
}  // namespace morvik::store
