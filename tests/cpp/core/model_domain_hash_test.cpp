#include <gtest/gtest.h>

#include "core/domain_hash.hpp"
#include "model_fixtures.hpp"

namespace morvik::core {
namespace {

using namespace model_test;

cord::ByteView text(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

TEST(ModelDomainHashTest, EmptyDomainAndDataHashTheThirtyEightBytePrefix) {
  // SHA-256 of 000000000000000e "morvik.hash.v1" and sixteen zero bytes.
  EXPECT_EQ(to_hex(domain_hash("", {}).bytes), "9c497c79d6eb9092e3b50a01608d674de2daa1aac2ecea47e1a59bdb9ccceca8");
}

TEST(ModelDomainHashTest, LengthsBindTheBoundaryBetweenDomainAndData) {
  EXPECT_NE(domain_hash("morvik.user.v1", text("x")), domain_hash("morvik.user.v", text("1x")));
  EXPECT_NE(domain_hash("ab", {}), domain_hash("a", text("b")));
}

TEST(ModelDomainHashTest, SignatureTranscriptLayout) {
  const auto transcript = signature_transcript("morvik.signed.v1", hex("0102"));
  EXPECT_EQ(to_hex(transcript), "0000000000000013" + to_hex(text("morvik.signature.v1")) + "0000000000000010" +
                                    to_hex(text("morvik.signed.v1")) + "0000000000000002" + "0102");
  EXPECT_EQ(transcript.size(), 43u + 16u + 2u);
}

}  // namespace
}  // namespace morvik::core
