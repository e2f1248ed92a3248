// Invitations in both forms, read from arguments, files and the environment.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cord/cord.hpp"
#include "crypto/identity.hpp"
#include "frontend/bundle.hpp"
#include "frontend/invite.hpp"
#include "keychain/unlock.hpp"
#include "support/frontend/bech32_encoder.hpp"
#include "support/frontend/helpers.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::frontend {
namespace {

using bech32::Checksum;
using core::InvitationMaterial;
using core::Invite;
using core::RatchetRecordV1;
using store::testing::ScopedEnv;
using store::testing::TempDir;
using testing::error_of;
using testing::invite_text;
using testing::ok;
using testing::upper;

const crypto::SecretBytes kSeed(32, 0x11);

core::HashValue root() { return store::testing::hash_of(0x22); }

std::vector<RatchetRecordV1> baseline() {
  return {core::UserRatchetRecordV1{core::UserId{store::testing::hash_of(0x33)}, 7},
          core::ratchet_record::FormatVersion{1}};
}

cord::Bytes body_of(const Invite& invite) { return cord::serialize(invite).value(); }

cord::Bytes file_bytes_of(const Invite& invite) {
  cord::Bytes bytes(kInviteMagic.begin(), kInviteMagic.end());
  const cord::Bytes body = body_of(invite);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

std::string text_of(const Invite& invite, Checksum checksum = Checksum::Bech32m) {
  return invite_text(body_of(invite), checksum);
}

Invite v2_without_baseline() { return core::InviteV2{kSeed, root(), std::nullopt}; }

const std::string kMalformed = "invitation string is malformed or has a bad checksum";

struct FormCase {
  const char* name;
  Invite invite;
};

std::vector<FormCase> form_cases() {
  return {
      {"V1 with an empty baseline", core::InviteV1{kSeed, root(), {}}},
      {"V1 with a baseline", core::InviteV1{kSeed, root(), {baseline()}}},
      {"V2 without a baseline", v2_without_baseline()},
      {"V2 with a baseline", core::InviteV2{kSeed, root(), core::RatchetBaselineV1{baseline()}}},
  };
}

TEST(InviteForms, EveryFormYieldsTheSameMaterial) {
  TempDir dir;
  for (const auto& c : form_cases()) {
    SCOPED_TRACE(c.name);
    const InvitationMaterial expected = InvitationMaterial::from_invite(c.invite);
    const store::Path file = dir / "invite.bin";
    store::testing::write_file(file, file_bytes_of(c.invite));

    EXPECT_EQ(read_invite(text_of(c.invite, Checksum::Bech32m), std::nullopt), expected);
    EXPECT_EQ(read_invite(text_of(c.invite, Checksum::Bech32), std::nullopt), expected);
    EXPECT_EQ(read_invite(std::nullopt, file), expected);
    EXPECT_EQ(decode_invite_bytes(file_bytes_of(c.invite)), expected);
  }
}

TEST(InviteForms, VersionOneAlwaysHasABaselineVersionTwoMayNot) {
  auto v1 = read_invite(text_of(core::InviteV1{kSeed, root(), {}}), std::nullopt);
  ASSERT_TRUE(v1.has_value());
  ASSERT_TRUE(v1->baseline.has_value());
  EXPECT_TRUE(v1->baseline->empty());
  EXPECT_EQ(v1->master_seed, kSeed);
  EXPECT_EQ(v1->trusted_root, root());

  auto v2 = read_invite(text_of(v2_without_baseline()), std::nullopt);
  ASSERT_TRUE(v2.has_value());
  EXPECT_FALSE(v2->baseline.has_value());
}

TEST(InviteText, SurroundingWhiteSpaceIsIgnored) {
  const std::string text = text_of(v2_without_baseline());
  const auto expected = InvitationMaterial::from_invite(v2_without_baseline());
  for (const std::string& padded : {text + "\n", "  " + text + " \t\r\n", "\u3000" + text + "\u00a0\u2029"}) {
    EXPECT_EQ(read_invite(padded, std::nullopt), expected) << padded;
  }
}

TEST(InviteText, RefusalsName) {
  const std::string text = text_of(v2_without_baseline());
  std::string bad_checksum = text;
  bad_checksum.back() = bad_checksum.back() == 'q' ? 'p' : 'q';
  std::string mixed = text;
  mixed[text.size() - 3] = static_cast<char>(std::toupper(mixed[text.size() - 3]));
  const std::string spaced = text.substr(0, 20) + " " + text.substr(20);
  const std::string bc = invite_text(body_of(v2_without_baseline()), Checksum::Bech32m, "bc");

  struct Case {
    std::string name;
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {"another prefix", bc, "not the expected Morvik invitation (prefix \"bc\"; invitations are mrvk1\u2026)"},
      {"upper case", upper(text), "not the expected Morvik invitation (prefix \"MRVK\"; invitations are mrvk1\u2026)"},
      {"bad checksum", bad_checksum, kMalformed},
      {"mixed case", mixed, kMalformed},
      {"space inside", spaced, kMalformed},
      {"bad checksum under another prefix", bc.substr(0, bc.size() - 1) + (bc.back() == 'q' ? "p" : "q"), kMalformed},
      {"empty", "", kMalformed},
      {"white space only", " \n", kMalformed},
      {"separator only", "mrvk1", kMalformed},
      // "morv" read as a variant index.
      {"binary form as text", invite_text(file_bytes_of(v2_without_baseline())),
       "Cord error: Cord encountered unknown enum variant index 1836020342"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(read_invite(c.text, std::nullopt)), c.error) << c.name;
}

// 632 payload bytes make a string of 1,023 characters under "mrvk".
TEST(InviteText, AtMost1023CharactersAfterTrimming) {
  const cord::Bytes longest(632, 0xa5);
  const std::string at_limit = invite_text(longest);
  ASSERT_EQ(at_limit.size(), 1023u);
  const auto decoded = bundle::decode("  " + at_limit + "\n");
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(cord::Bytes(decoded->begin(), decoded->end()), longest);

  const std::string over = invite_text(cord::Bytes(633, 0xa5));
  ASSERT_EQ(over.size(), 1024u);
  EXPECT_EQ(error_of(bundle::decode(over)), kMalformed);
  // The length is refused before the prefix is looked at.
  const std::string over_elsewhere = invite_text(cord::Bytes(634, 0xa5), Checksum::Bech32m, "bc");
  ASSERT_GT(over_elsewhere.size(), 1023u);
  EXPECT_EQ(error_of(bundle::decode(over_elsewhere)), kMalformed);
}

TEST(InviteText, PayloadMustBeExactlyOneInvite) {
  cord::Bytes unknown_variant = body_of(v2_without_baseline());
  ASSERT_EQ(cord::Bytes(unknown_variant.begin(), unknown_variant.begin() + 4), (cord::Bytes{0, 0, 0, 1}));
  unknown_variant[3] = 2;
  cord::Bytes trailing = body_of(v2_without_baseline());
  trailing.push_back(0);

  EXPECT_EQ(error_of(read_invite(invite_text(unknown_variant), std::nullopt)),
            "Cord error: Cord encountered unknown enum variant index 2");
  EXPECT_EQ(error_of(read_invite(invite_text(trailing), std::nullopt)),
            "Cord error: Trailing bytes after deserialization");
  EXPECT_EQ(error_of(read_invite(invite_text({}), std::nullopt)), "Cord error: Unexpected end of input");
}

TEST(InviteBinary, RefusalsName) {
  const cord::Bytes good = file_bytes_of(v2_without_baseline());
  cord::Bytes wrong_magic = good;
  wrong_magic[0] = 'M';
  cord::Bytes no_zero = good;
  no_zero[13] = '\n';
  cord::Bytes trailing = good;
  trailing.push_back(0);

  struct Case {
    const char* name;
    cord::Bytes bytes;
    std::string error;
  };
  const Case cases[] = {
      {"empty", {}, kMalformed},
      {"short", cord::Bytes(good.begin(), good.begin() + 13), kMalformed},
      {"wrong magic", wrong_magic, kMalformed},
      {"no zero after the magic", no_zero, kMalformed},
      {"magic alone", cord::Bytes(good.begin(), good.begin() + 14), "Cord error: Unexpected end of input"},
      {"trailing byte", trailing, "Cord error: Trailing bytes after deserialization"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(decode_invite_bytes(c.bytes)), c.error) << c.name;
}

TEST(InviteFile, UnreadableFilesNameThePath) {
  TempDir dir;
  const store::Path good = dir / "good.bin";
  store::testing::write_file(good, file_bytes_of(v2_without_baseline()));
  store::testing::make_symlink(good.bytes(), dir / "link.bin");
  store::testing::make_dir(dir / "directory");
  // Sparse: the size alone refuses it.
  const store::Path huge = dir / "huge.bin";
  store::testing::write_file(huge, file_bytes_of(v2_without_baseline()));
  ASSERT_EQ(::truncate(huge.bytes().c_str(), kMaxInviteFileBytes + 1), 0);

  struct Case {
    const char* name;
    store::Path path;
    std::string error_end;
  };
  const Case cases[] = {
      {"missing", dir / "missing.bin", " (os error 2)"},
      {"symbolic link", dir / "link.bin", " (os error 40)"},
      {"directory", dir / "directory", ": not a regular file"},
      {"over the limit", huge, " above the supported maximum of 269484032"},
  };
  for (const auto& c : cases) {
    const std::string error = error_of(read_invite(std::nullopt, c.path));
    EXPECT_TRUE(error.starts_with("I/O error at " + c.path.display() + ": ")) << c.name << ": " << error;
    EXPECT_TRUE(error.ends_with(c.error_end)) << c.name << ": " << error;
  }
  EXPECT_EQ(read_invite(std::nullopt, good), InvitationMaterial::from_invite(v2_without_baseline()));
}

TEST(InviteForms, ExactlyOneFormIsGiven) {
  const std::string conflict = "pass exactly one of the string or file form";
  EXPECT_EQ(error_of(read_invite(std::nullopt, std::nullopt)), conflict);
  EXPECT_EQ(error_of(read_invite(text_of(v2_without_baseline()), store::Path("invite.bin"))), conflict);
}

// Each test starts with neither variable set.
class InviteEnvironment : public ::testing::Test {
 protected:
  InviteEnvironment() {
    env_.unset(kInviteEnv);
    env_.unset(kInviteFileEnv);
    store::testing::write_file(file_, file_bytes_of(v2_without_baseline()));
  }

  TempDir dir_;
  ScopedEnv env_;
  const store::Path file_ = dir_ / "invite.bin";
  const InvitationMaterial expected_ = InvitationMaterial::from_invite(v2_without_baseline());
};

TEST_F(InviteEnvironment, NeitherVariableMeansNoInvitation) {
  auto invite = ci_invite();
  ASSERT_TRUE(invite.has_value());
  EXPECT_FALSE(invite->has_value());
  auto user = ci_identity_user(crypto::Crypto{});
  ASSERT_TRUE(user.has_value());
  EXPECT_FALSE(user->has_value());
}

TEST_F(InviteEnvironment, EitherVariableAlone) {
  env_.set(kInviteEnv, "\n" + text_of(v2_without_baseline()) + "\n");
  EXPECT_EQ(ok(ci_invite()), expected_);
  env_.unset(kInviteEnv);
  env_.set(kInviteFileEnv, file_.bytes());
  EXPECT_EQ(ok(ci_invite()), expected_);
}

TEST_F(InviteEnvironment, TheFileVariableTakesAnyBytes) {
  const store::Path odd = dir_ / "in\xffvite.bin";
  store::testing::write_file(odd, file_bytes_of(v2_without_baseline()));
  env_.set(kInviteFileEnv, odd.bytes());
  EXPECT_EQ(ok(ci_invite()), expected_);
}

TEST_F(InviteEnvironment, RefusalsName) {
  const std::string text = text_of(v2_without_baseline());
  const std::string conflict = "pass exactly one of the string or file form";
  const std::string not_utf8 = "environment variable MORVIK_UNSAFE_INVITE must be valid UTF-8";
  struct Case {
    const char* name;
    std::optional<std::string> invite;
    std::optional<std::string> file;
    std::string error;
  };
  const Case cases[] = {
      {"both", text, file_.bytes(), conflict},
      {"both, the string empty", "", file_.bytes(), conflict},
      {"both, the path empty", text, "", conflict},
      {"string not UTF-8", "mrvk1\xff", std::nullopt, not_utf8},
      {"string not UTF-8 beside a file", "\xc0\x80", file_.bytes(), not_utf8},
      {"empty string", "", std::nullopt, kMalformed},
      {"empty path", std::nullopt, "", "I/O error at : No such file or directory (os error 2)"},
      {"missing file", std::nullopt, (dir_ / "missing").bytes(),
       "I/O error at " + (dir_ / "missing").display() + ": No such file or directory (os error 2)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv env;
    if (c.invite) env.set(kInviteEnv, *c.invite);
    if (c.file) env.set(kInviteFileEnv, *c.file);
    EXPECT_EQ(error_of(ci_invite()), c.error);
    // The same failure, not a missing user, reaches whoever wanted the user.
    EXPECT_EQ(error_of(ci_identity_user(crypto::Crypto{})), c.error);
  }
}

TEST_F(InviteEnvironment, IdentityUserIsTheSeedsUser) {
  env_.set(kInviteEnv, text_of(v2_without_baseline()));
  const auto identity = crypto::Identity::from_master_seed(crypto::Crypto{}, kSeed);
  ASSERT_TRUE(identity.has_value());
  EXPECT_EQ(ok(ci_identity_user(crypto::Crypto{})), identity->user_id);
}

TEST_F(InviteEnvironment, IdentityUserNeedsAUsableSeed) {
  const crypto::SecretBytes short_seed(31, 0x11);
  env_.set(kInviteEnv, invite_text(body_of(core::InviteV2{short_seed, root(), std::nullopt})));
  // The material itself carries any seed; the identity derivation refuses it.
  ASSERT_TRUE(ci_invite().has_value());
  const auto refusal = keychain::FixedIdentityProvider::from_master_seed(crypto::Crypto{}, short_seed);
  ASSERT_FALSE(refusal.has_value());
  EXPECT_EQ(error_of(ci_identity_user(crypto::Crypto{})), refusal.error().message());
}

}  // namespace
}  // namespace morvik::frontend
