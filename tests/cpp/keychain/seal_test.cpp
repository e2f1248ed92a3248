#include "keychain/seal.hpp"

#include <type_traits>

#include <gtest/gtest.h>

#include "keychain/passphrase.hpp"
#include "support/keychain/fixtures.hpp"

namespace morvik::keychain {
namespace {

using namespace testing;

const std::string kPassphrase = "correct horse battery staple";

SealInput input_with(KdfParamsV1 kdf) {
  SealInput input;
  input.master_seed = cord::Bytes(32, 0x42);
  input.passphrase = kPassphrase;
  input.root = hash_of(0x11);
  input.user = user_of(0x22);
  input.kdf = std::move(kdf);
  return input;
}

KeychainResult<LocalIdentityV1> open(const SealedIdentityV1& sealed, std::string_view passphrase = kPassphrase) {
  const cord::Bytes bytes(passphrase.begin(), passphrase.end());
  return open_local_identity(bytes, sealed.root, sealed.user, sealed);
}

std::string error_text(const KeychainResult<LocalIdentityV1>& result) {
  return result ? "opened" : result.error().message();
}

TEST(SealedIdentity, TheRightPassphraseOpensItAndAWrongOneDoesNot) {
  const auto sealed = seal_identity(input_with(cheap_kdf()));
  auto local = open(sealed);
  ASSERT_TRUE(local.has_value()) << local.error().message();
  EXPECT_EQ(cord::Bytes(local->master_seed.begin(), local->master_seed.end()),
            cord::Bytes(32, 0x42));
  EXPECT_EQ(error_text(open(sealed, "correct horse battery stapl")), "identity keychain unlock failed");
  // Taken exactly as given: no trimming.
  EXPECT_EQ(error_text(open(sealed, kPassphrase + "\n")), "identity keychain unlock failed");
}

TEST(SealedIdentity, EveryChangedByteThatStaysInRangeFailsToOpen) {
  const auto sealed = seal_identity(input_with(cheap_kdf()));
  auto salt = sealed;
  salt.salt[3] ^= 1;
  auto ciphertext = sealed;
  ciphertext.ciphertext.back() ^= 1;
  auto iterations = sealed;
  iterations.kdf.iterations = 2;
  auto lanes = sealed;
  lanes.kdf.lanes = 2;
  auto memory = sealed;
  memory.kdf.memory_kib = 8'193;
  for (const auto* changed : {&salt, &ciphertext, &iterations, &lanes, &memory}) {
    EXPECT_EQ(error_text(open(*changed)), "identity keychain unlock failed");
  }
}

TEST(SealedIdentity, ItsAssociatedDataIsTheEncodedRootAndUser) {
  auto aad = envelope_aad_bytes(hash_of(0x11), user_of(0x22));
  ASSERT_TRUE(aad.has_value());
  cord::Bytes expected{0, 0, 0, 32};
  expected.insert(expected.end(), 32, 0x11);
  expected.insert(expected.end(), {0, 0, 0, 32});
  expected.insert(expected.end(), 32, 0x22);
  EXPECT_EQ(*aad, expected);
}

TEST(SealedIdentity, ParametersOutsideTheirRangesAreRefusedBeforeDerivation) {
  const auto sealed = seal_identity(input_with(cheap_kdf()));
  auto with = [&](auto change) {
    auto copy = sealed;
    change(copy);
    return error_text(open(copy));
  };
  const std::string refused = "invalid passphrase keychain parameters";
  EXPECT_EQ(with([](auto& s) { s.kdf.memory_kib = 8'191; }), refused);
  EXPECT_EQ(with([](auto& s) { s.kdf.memory_kib = 262'145; }), refused);
  EXPECT_EQ(with([](auto& s) { s.kdf.iterations = 0; }), refused);
  EXPECT_EQ(with([](auto& s) { s.kdf.iterations = 11; }), refused);
  EXPECT_EQ(with([](auto& s) { s.kdf.lanes = 0; }), refused);
  EXPECT_EQ(with([](auto& s) { s.kdf.lanes = 9; }), refused);
  EXPECT_EQ(with([](auto& s) { s.kdf.algorithm = "argon2id-v1.3 "; }), refused);
  EXPECT_EQ(with([](auto& s) { s.kdf.algorithm = "argon2id-v1.2"; }), refused);
  EXPECT_EQ(with([](auto& s) { s.kdf.algorithm = "argon2i-v1.3"; }), refused);
  EXPECT_EQ(with([](auto& s) { s.salt.pop_back(); }), refused);
  EXPECT_EQ(with([](auto& s) { s.salt.push_back(0); }), refused);
  const std::string inconsistent = "identity material is inconsistent for " + core::debug_string(sealed.user);
  EXPECT_EQ(with([](auto& s) { s.nonce.pop_back(); }), inconsistent);
  EXPECT_EQ(with([](auto& s) { s.nonce.push_back(0); }), inconsistent);
  // The envelope's own checks come before any parameter is looked at.
  EXPECT_EQ(with([](auto& s) {
              s.nonce.pop_back();
              s.kdf.memory_kib = 0;
            }),
            inconsistent);
}

TEST(SealedIdentity, ARecordOfAnotherRootOrUserIsInconsistent) {
  const auto sealed = seal_identity(input_with(cheap_kdf()));
  const cord::Bytes passphrase(kPassphrase.begin(), kPassphrase.end());
  const std::string inconsistent = "identity material is inconsistent for " + core::debug_string(user_of(0x33));
  EXPECT_EQ(error_text(open_local_identity(passphrase, sealed.root, user_of(0x33), sealed)), inconsistent);
  EXPECT_EQ(error_text(open_local_identity(passphrase, hash_of(0x44), sealed.user, sealed)),
            "identity material is inconsistent for " + core::debug_string(sealed.user));
}

TEST(SealedIdentity, TheBoundsThemselvesAreAccepted) {
  // The upper cost bounds, each on its own; the memory bound costs 256 MiB
  // once.
  for (const KdfParamsV1& kdf : {KdfParamsV1{"argon2id-v1.3", 8'192, 10, 8},
                                 KdfParamsV1{"argon2id-v1.3", 262'144, 1, 1}}) {
    const auto sealed = seal_identity(input_with(kdf));
    EXPECT_EQ(error_text(open(sealed)), "opened") << kdf.memory_kib;
  }
}

TEST(SealedIdentity, ContentThatIsNotALocalIdentityIsACordError) {
  auto input = input_with(cheap_kdf());
  cord::Bytes plaintext{0, 0, 0, 32};
  plaintext.insert(plaintext.end(), 33, 0x42);  // one byte after the seed
  input.plaintext = plaintext;
  EXPECT_EQ(error_text(open(seal_identity(input))), "Cord error: Trailing bytes after deserialization");
}

static_assert(std::is_same_v<decltype(LocalIdentityV1::master_seed), crypto::SecretBytes>,
              "the opened seed lives in storage that is wiped on release");
static_assert(std::is_same_v<Passphrase, crypto::SecretBytes>, "the passphrase is wiped on release");

}  // namespace
}  // namespace morvik::keychain
