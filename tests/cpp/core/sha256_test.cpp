#include <gtest/gtest.h>
#include <sodium.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/sha256.hpp"
#include "support/cord/hex.hpp"

namespace morvik::core {
namespace {

using testing::to_hex;

constexpr Sha256Engine kEngines[] = {Sha256Engine::Libcrypto, Sha256Engine::Libsodium};

cord::ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string hex_digest(Sha256Engine engine, std::span<const cord::ByteView> pieces) {
  const auto digest = sha256_by(engine, pieces);
  return digest ? to_hex(*digest) : "no digest";
}

struct KnownAnswer {
  std::string message;
  std::string digest;
};

// The FIPS 180-4 examples, the empty message, the two-block example of the
// NIST test vectors and one million times "a".
const std::vector<KnownAnswer>& known_answers() {
  static const std::vector<KnownAnswer> answers{
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopq"
       "rstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  return answers;
}

TEST(Sha256Test, BothEnginesGiveThePublishedDigests) {
  for (const Sha256Engine engine : kEngines) {
    for (const auto& [message, digest] : known_answers()) {
      const cord::ByteView whole[] = {bytes_of(message)};
      EXPECT_EQ(hex_digest(engine, whole), digest) << static_cast<int>(engine) << " over " << message.size();
    }
  }
}

TEST(Sha256Test, PiecesHashAsTheirConcatenation) {
  // "abc" split at every place, with empty pieces around and between.
  const std::string expected = known_answers()[1].digest;
  for (const Sha256Engine engine : kEngines) {
    for (std::size_t cut = 0; cut <= 3; ++cut) {
      const std::string_view abc = "abc";
      const cord::ByteView pieces[] = {{}, bytes_of(abc.substr(0, cut)), {}, bytes_of(abc.substr(cut)), {}};
      EXPECT_EQ(hex_digest(engine, pieces), expected) << static_cast<int>(engine) << " cut at " << cut;
    }
    // One million "a" in 1000-byte pieces: many calls, none block-aligned.
    const std::string thousand(1000, 'a');
    const std::vector<cord::ByteView> million(1000, bytes_of(thousand));
    EXPECT_EQ(hex_digest(engine, million), known_answers()[4].digest) << static_cast<int>(engine);
  }
}

TEST(Sha256Test, EnginesAgreeOnRandomInputsCutAtRandomPlaces) {
  std::mt19937_64 random(20240611);
  std::vector<std::size_t> lengths;
  for (std::size_t length = 0; length <= 300; ++length) lengths.push_back(length);
  for (const std::size_t length : {511u, 512u, 513u, 4095u, 4096u, 65537u, (1u << 20) + 3u}) lengths.push_back(length);
  for (const std::size_t length : lengths) {
    cord::Bytes input(length);
    for (auto& byte : input) byte = static_cast<std::uint8_t>(random());
    // Up to four cut points, anywhere, repeats allowed: empty pieces too.
    std::vector<std::size_t> cuts{0, length};
    for (std::size_t i = random() % 5; i > 0; --i) cuts.push_back(length == 0 ? 0 : random() % (length + 1));
    std::sort(cuts.begin(), cuts.end());
    std::vector<cord::ByteView> pieces;
    for (std::size_t i = 1; i < cuts.size(); ++i) {
      pieces.push_back(cord::ByteView(input).subspan(cuts[i - 1], cuts[i] - cuts[i - 1]));
    }
    Sha256Digest reference{};
    crypto_hash_sha256(reference.data(), input.data(), input.size());
    for (const Sha256Engine engine : kEngines) {
      EXPECT_EQ(hex_digest(engine, pieces), to_hex(reference)) << static_cast<int>(engine) << " over " << length;
    }
    EXPECT_EQ(to_hex(sha256(pieces)), to_hex(reference)) << length;
  }
}

TEST(Sha256Test, LibcryptoServesWhenItOffersSha256) {
  EXPECT_EQ(sha256_engine(), Sha256Engine::Libcrypto);
}

// libcrypto configured with no provider but the null one has no SHA-256:
// libsodium's serves, with the same digests. Run in a fresh process, since
// libcrypto reads its configuration once.
TEST(Sha256Test, LibsodiumServesWhenLibcryptoHasNoSha256) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto without_sha256 = [] {
    const auto config =
        std::filesystem::temp_directory_path() / ("morvik-null-provider-" + std::to_string(::getpid()) + ".cnf");
    std::ofstream(config) << "openssl_conf = init\n[init]\nproviders = providers\n"
                             "[providers]\nnull = null\n[null]\nactivate = 1\n";
    ::setenv("OPENSSL_CONF", config.c_str(), 1);
    const cord::ByteView abc[] = {bytes_of("abc")};
    const bool libsodium_chosen = sha256_engine() == Sha256Engine::Libsodium;
    const bool libcrypto_declines = !sha256_by(Sha256Engine::Libcrypto, abc).has_value();
    const bool digest_right = to_hex(sha256(abc)) == known_answers()[1].digest;
    std::filesystem::remove(config);
    std::fprintf(stderr, "libsodium chosen %d, libcrypto declines %d, digest right %d\n", libsodium_chosen,
                 libcrypto_declines, digest_right);
    std::exit(libsodium_chosen && libcrypto_declines && digest_right ? 0 : 1);
  };
  EXPECT_EXIT(without_sha256(), ::testing::ExitedWithCode(0),
              "libsodium chosen 1, libcrypto declines 1, digest right 1");
}

}  // namespace
}  // namespace morvik::core
