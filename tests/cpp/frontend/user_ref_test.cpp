// The user-reference syntax, the stored default user and the two rendering
// helpers.

#include <gtest/gtest.h>

#include <string>

#include "frontend/render.hpp"
#include "frontend/user.hpp"
#include "keychain/files.hpp"
#include "support/frontend/helpers.hpp"
#include "support/keychain/fixtures.hpp"

namespace morvik::frontend {
namespace {

using ops::UserRef;
using Id = ops::user_ref::Id;
using Handle = ops::user_ref::Handle;
using testing::error_of;
using testing::ok;
using testing::upper;

std::string handle_error(const std::string& input) {
  return "invalid user handle \"" + input + "\": " + std::string(ops::kHandleRule);
}

// 32 bytes 0x00, 0x11, ... as 64 lowercase digits.
const std::string kIdHex = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

cord::Bytes id_bytes() {
  cord::Bytes bytes;
  for (int i = 0; i < 32; ++i) bytes.push_back(static_cast<std::uint8_t>((i % 16) * 0x11));
  return bytes;
}

TEST(ParseUserRef, HandlesAndIds) {
  struct Case {
    std::string text;
    UserRef expected;
  };
  const Case cases[] = {
      {"@alice", Handle{"alice"}},
      {"alice", Handle{"alice"}},
      {" Alice ", Handle{"alice"}},
      {"@ Alice\t", Handle{"alice"}},
      {"@@alice", Handle{"alice"}},  // the handle reader drops one "@" of its own
      {kIdHex, Id{id_bytes()}},
      {"0x" + kIdHex, Id{id_bytes()}},
      {upper(kIdHex), Id{id_bytes()}},
      {"0x" + upper(kIdHex), Id{id_bytes()}},
      {"@" + kIdHex.substr(0, 12), Handle{kIdHex.substr(0, 12)}},
      {"abcdef0", Handle{"abcdef0"}},                      // odd digits: a handle
      {"deadbeef", Handle{"deadbeef"}},                    // 4 bytes are no id
      {kIdHex.substr(0, 62), Handle{kIdHex.substr(0, 62)}},
      {"0x" + kIdHex.substr(0, 60), Handle{"0x" + kIdHex.substr(0, 60)}},
  };
  for (const auto& c : cases) {
    const auto parsed = parse_user_ref(c.text);
    ASSERT_TRUE(parsed.has_value()) << c.text << ": " << error_of(parsed);
    EXPECT_EQ(*parsed, c.expected) << c.text;
  }
}

TEST(ParseUserRef, RefusalsQuoteTheTextTheHandleReaderGot) {
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {"@Bad!", handle_error("Bad!")},
      {"Bad!", handle_error("Bad!")},
      {"@", handle_error("")},
      {"", handle_error("")},
      {"0X" + kIdHex, handle_error("0X" + kIdHex)},        // only a lowercase x makes an id
      {kIdHex + "0", handle_error(kIdHex + "0")},          // 65 digits
      {kIdHex + "00", handle_error(kIdHex + "00")},        // 66 digits: 33 bytes
      {"0x" + kIdHex + "00", handle_error("0x" + kIdHex + "00")},
      {"caf\u00e9", handle_error("caf\u00e9")},
      {"tab\there", handle_error("tab\\there")},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(parse_user_ref(c.text)), c.error) << c.text;
}

TEST(ParseHandleName, DropsOneAtAndNormalises) {
  EXPECT_EQ(parse_handle_name("@Ops-Team_2"), "ops-team_2");
  EXPECT_EQ(parse_handle_name("\u3000bob\n"), "bob");
  EXPECT_EQ(error_of(parse_handle_name("@-bob")), handle_error("@-bob"));
  EXPECT_EQ(error_of(parse_handle_name(std::string(65, 'a'))), handle_error(std::string(65, 'a')));
}

TEST(NormalizeHexPrefix, EightOrMoreDigitsAfterAnOptionalLowercase0x) {
  struct Case {
    std::string text;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"abcdef01", "abcdef01"},
      {"ABCDEF01", "abcdef01"},
      {"0xABCDEF01", "abcdef01"},
      {"abcdef0", std::nullopt},
      {"0xabcdef0", std::nullopt},
      {"0Xabcdef01", std::nullopt},
      {"abcdefg1", std::nullopt},
      {"@abcdef01", std::nullopt},
      {" abcdef01", std::nullopt},
      {"0x", std::nullopt},
      {"", std::nullopt},
      {kIdHex.substr(0, 63), kIdHex.substr(0, 63)},
      {upper(kIdHex) + "00", kIdHex + "00"},  // no upper bound here
  };
  for (const auto& c : cases) EXPECT_EQ(normalize_hex_prefix(c.text), c.expected) << c.text;
}

TEST(DecodeHex, DigitsOfEitherCaseAfterAnOptionalLowercase0x) {
  struct Case {
    std::string text;
    std::optional<cord::Bytes> bytes;
    std::string error;
  };
  const Case cases[] = {
      {"", cord::Bytes{}, ""},
      {"0x", cord::Bytes{}, ""},
      {"00fF1a", cord::Bytes{0x00, 0xff, 0x1a}, ""},
      {"0x0A", cord::Bytes{0x0a}, ""},
      {"0", std::nullopt, "invalid user ID hex: odd length"},
      {"0xabc", std::nullopt, "invalid user ID hex: odd length"},
      {"0X0a", std::nullopt, "invalid user ID hex: non-hex character"},
      {"zz", std::nullopt, "invalid user ID hex: non-hex character"},
      {"0g", std::nullopt, "invalid user ID hex: non-hex character"},
      {"abz", std::nullopt, "invalid user ID hex: odd length"},  // length is checked first
  };
  for (const auto& c : cases) {
    const auto decoded = decode_hex(c.text, "user ID");
    if (c.bytes) {
      EXPECT_EQ(decoded, *c.bytes) << c.text;
    } else {
      EXPECT_EQ(error_of(decoded), c.error) << c.text;
    }
  }
}

TEST(Render, HexBytes) {
  EXPECT_EQ(render::hex_bytes(cord::Bytes{}), "");
  EXPECT_EQ(render::hex_bytes(cord::Bytes{0x00, 0x0f, 0xf0, 0xff}), "000ff0ff");
  EXPECT_EQ(render::hex_bytes(id_bytes()), kIdHex);
}

TEST(Render, CountNoun) {
  EXPECT_EQ(render::count_noun(0, "unresolved conflict"), "0 unresolved conflicts");
  EXPECT_EQ(render::count_noun(1, "unresolved conflict"), "1 unresolved conflict");
  EXPECT_EQ(render::count_noun(2, "unresolved conflict"), "2 unresolved conflicts");
  EXPECT_EQ(render::count_noun(11, "user"), "11 users");
}

// The keychain lives in MORVIK_KEYCHAIN_DIR, pointed at a fresh directory.
class StoredDefaultUser : public ::testing::Test {
 protected:
  StoredDefaultUser() { env_.set("MORVIK_KEYCHAIN_DIR", dir_.path().bytes()); }

  void store_current_user(const core::HashValue& root, const core::UserId& user) {
    keychain::testing::write_file(keychain::current_user_path(dir_.path(), root),
                                  keychain::testing::current_user_file(keychain::CurrentUserV1{user, std::nullopt}));
  }

  keychain::testing::TempDir dir_;
  store::testing::ScopedEnv env_;
  const core::HashValue root_ = keychain::testing::hash_of(0x11);
  const core::UserId user_{core::HashValue{id_bytes()}};
};

TEST_F(StoredDefaultUser, NoneWithoutACurrentUser) {
  EXPECT_EQ(ok(stored_default_user(root_)), std::nullopt);
  store_current_user(keychain::testing::hash_of(0x12), user_);  // another root's
  EXPECT_EQ(ok(stored_default_user(root_)), std::nullopt);
}

TEST_F(StoredDefaultUser, TheStoredUserInLowercaseHex) {
  store_current_user(root_, user_);
  EXPECT_EQ(ok(stored_default_user(root_)), kIdHex);
}

TEST_F(StoredDefaultUser, FoundInTheOlderCombinedKeychain) {
  const auto records = keychain::testing::records_of(
      {keychain::testing::current_user_record(keychain::CurrentUserV1{user_, std::string("app/db")})});
  keychain::testing::write_file(keychain::keychain_path(dir_.path(), root_), keychain::testing::keychain_file(records));
  EXPECT_EQ(ok(stored_default_user(root_)), kIdHex);
}

TEST_F(StoredDefaultUser, KeychainErrorsPassUnchanged) {
  keychain::testing::write_file(keychain::current_user_path(dir_.path(), root_), cord::Bytes{'x'});
  const auto result = stored_default_user(root_);
  ASSERT_FALSE(result.has_value());
  ASSERT_NE(result.error().as<FrontendError::Keychain>(), nullptr);
  EXPECT_EQ(result.error().message(), result.error().as<FrontendError::Keychain>()->error.message());
}

TEST_F(StoredDefaultUser, NoKeychainDirectory) {
  env_.unset("MORVIK_KEYCHAIN_DIR");
  env_.unset("XDG_DATA_HOME");
  env_.unset("HOME");
  EXPECT_EQ(error_of(stored_default_user(root_)),
            "passphrase identity keychain backend is unavailable: MORVIK_KEYCHAIN_DIR, APPDATA, XDG_DATA_HOME, and "
            "HOME are unset");
}

}  // namespace
}  // namespace morvik::frontend
