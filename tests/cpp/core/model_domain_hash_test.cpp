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

// A message handed over whole gives the same bytes, made in its own buffer
// when that has room for the head.
TEST(ModelDomainHashTest, SignatureTranscriptOfAMessageBufferIsTheSame) {
  const std::string_view domain = "morvik.signed.v1";
  for (const std::size_t room : {std::size_t{0}, signature_transcript_head_size(domain) - 1,
                                 signature_transcript_head_size(domain), std::size_t{100}}) {
    for (const cord::Bytes& message : {hex(""), hex("0102")}) {
      cord::Bytes buffer;
      buffer.reserve(message.size() + room);
      buffer.assign(message.begin(), message.end());
      const std::uint8_t* const storage = buffer.data();
      const auto transcript = signature_transcript(domain, std::move(buffer));
      EXPECT_EQ(transcript, signature_transcript(domain, cord::ByteView(message))) << room;
      if (room >= signature_transcript_head_size(domain)) {
        EXPECT_EQ(transcript.data(), storage) << room;
      }
    }
  }
}

}  // namespace
}  // namespace morvik::core
