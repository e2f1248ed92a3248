#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/hmac_sha256.hpp"
#include "support/cord/hex.hpp"

namespace morvik::core {
namespace {

using testing::to_hex;

constexpr Sha256Engine kMacEngines[] = {Sha256Engine::Libcrypto, Sha256Engine::Libsodium};

cord::Bytes counting_bytes(std::size_t length, std::uint8_t first) {
  cord::Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

std::string hex_mac_by(Sha256Engine engine, cord::ByteView key, std::span<const cord::ByteView> message) {
  std::array<std::uint8_t, kHmacSha256Length> mac{};
  return hmac_sha256_by(engine, key, message, mac) ? to_hex(mac) : "no mac";
}

// Keys on each side of the block length (64 bytes: longer keys are hashed
// first) and messages cut at several places, empty pieces included.
TEST(HmacSha256Test, EnginesAgreeOnKeysOfEveryKindAndMessagesInPieces) {
  const std::vector<cord::Bytes> keys = {{}, counting_bytes(4, 0x10), counting_bytes(32, 0x20),
                                         counting_bytes(64, 0x30), counting_bytes(65, 0x40), counting_bytes(131, 0x50)};
  const std::vector<cord::Bytes> messages = {{}, counting_bytes(1, 0x01), counting_bytes(50, 0x61),
                                             counting_bytes(64, 0x71), counting_bytes(200, 0x81)};
  for (const cord::Bytes& key : keys) {
    for (const cord::Bytes& message : messages) {
      const cord::ByteView whole[] = {message};
      const std::string expected = hex_mac_by(Sha256Engine::Libsodium, key, whole);
      std::array<std::uint8_t, kHmacSha256Length> chosen{};
      hmac_sha256(key, whole, chosen);
      EXPECT_EQ(to_hex(chosen), expected) << key.size() << "-byte key, " << message.size() << "-byte message";
      for (std::size_t cut = 0; cut <= message.size(); cut += message.size() / 3 + 1) {
        const cord::ByteView view(message);
        const cord::ByteView pieces[] = {{}, view.first(cut), {}, view.subspan(cut), {}};
        for (const Sha256Engine engine : kMacEngines) {
          EXPECT_EQ(hex_mac_by(engine, key, pieces), expected)
              << static_cast<int>(engine) << ": " << key.size() << "-byte key, " << message.size()
              << "-byte message cut at " << cut;
        }
      }
    }
  }
}

// The MAC of a key that is also where it is written: HKDF's expansion feeds
// each block into the next.
TEST(HmacSha256Test, MessageMayBeTheOutput) {
  const cord::Bytes key = counting_bytes(32, 0x01);
  for (const Sha256Engine engine : kMacEngines) {
    std::array<std::uint8_t, kHmacSha256Length> block{};
    const cord::Bytes original(block.begin(), block.end());
    const cord::ByteView copied[] = {original};
    std::array<std::uint8_t, kHmacSha256Length> expected{};
    ASSERT_TRUE(hmac_sha256_by(engine, key, copied, expected));
    const cord::ByteView in_place[] = {block};
    ASSERT_TRUE(hmac_sha256_by(engine, key, in_place, block));
    EXPECT_EQ(to_hex(block), to_hex(expected)) << static_cast<int>(engine);
  }
}

// libcrypto configured with no provider but the null one has no HMAC:
// libsodium's serves, with the same MACs. Run in a fresh process, since
// libcrypto reads its configuration once.
TEST(HmacSha256Test, LibsodiumServesWhenLibcryptoHasNoSha256) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto without_sha256 = [] {
    const auto config =
        std::filesystem::temp_directory_path() / ("morvik-null-provider-hmac-" + std::to_string(::getpid()) + ".cnf");
    std::ofstream(config) << "openssl_conf = init\n[init]\nproviders = providers\n"
                             "[providers]\nnull = null\n[null]\nactivate = 1\n";
    ::setenv("OPENSSL_CONF", config.c_str(), 1);
    const cord::Bytes key = counting_bytes(32, 0x01);
    const cord::Bytes message = counting_bytes(40, 0x02);
    const cord::ByteView whole[] = {message};
    std::array<std::uint8_t, kHmacSha256Length> mac{};
    const bool libcrypto_declines = !hmac_sha256_by(Sha256Engine::Libcrypto, key, whole, mac);
    hmac_sha256(key, whole, mac);
    const bool mac_right = to_hex(mac) == hex_mac_by(Sha256Engine::Libsodium, key, whole);
    std::filesystem::remove(config);
    std::fprintf(stderr, "libcrypto declines %d, mac right %d\n", libcrypto_declines, mac_right);
    std::exit(libcrypto_declines && mac_right ? 0 : 1);
  };
  EXPECT_EXIT(without_sha256(), ::testing::ExitedWithCode(0), "libcrypto declines 1, mac right 1");
}

}  // namespace
}  // namespace morvik::core
