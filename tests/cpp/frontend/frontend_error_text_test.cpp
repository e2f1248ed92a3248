#include "frontend/error.hpp"

#include <gtest/gtest.h>

namespace morvik::frontend {
namespace {

TEST(FrontendErrorText, EveryCaseHasItsFixedText) {
  using E = FrontendError;
  const std::vector<std::pair<FrontendError, std::string>> cases = {
      {ops::OpsError(ops::OpsError::SecretMissing{}), "secret is missing"},
      {keychain::KeychainError{keychain::KeychainError::UnlockFailed{}}, "identity keychain unlock failed"},
      {cord::CordError::of(cord::CordErrorKind::TrailingBytes), "Cord error: Trailing bytes after deserialization"},
      {E::IoAt{store::Path("/tmp/in\xffvite"), store::IoError::from_errno(2)},
       "I/O error at /tmp/in\ufffdvite: No such file or directory (os error 2)"},
      {E::InvalidSelector{"a\"b\\c\td", "selector has an unterminated quote"},
       "invalid selector \"a\\\"b\\\\c\\td\": selector has an unterminated quote"},
      {E::InvalidHex{"user ID", "odd number of digits"}, "invalid user ID hex: odd number of digits"},
      {E::HexLength{"user ID", 32, 3}, "expected user ID hex to decode to 32 bytes, got 3"},
      {E::InviteFormConflict{}, "pass exactly one of the string or file form"},
      {E::MalformedInvitation{}, "invitation string is malformed or has a bad checksum"},
      {E::WrongInvitationPrefix{"MRVK"}, "not the expected Morvik invitation (prefix \"MRVK\"; invitations are mrvk1\u2026)"},
      {E::EnvNotUtf8{"MORVIK_UNSAFE_INVITE"}, "environment variable MORVIK_UNSAFE_INVITE must be valid UTF-8"},
      {E::InvalidUserHandle{"Bad Name", "handle must be lowercase"},
       "invalid user handle \"Bad Name\": handle must be lowercase"},
      {E::NoDefaultIdentity{}, "no default Morvik identity is configured; pass --user once"},
      {E::NoUserMatches{"j\u00f6rg"}, "no user matches \"j\u00f6rg\""},
      {E::AmbiguousUser{"ab"}, "user \"ab\" is ambiguous"},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(error.message(), text);
}

}  // namespace
}  // namespace morvik::frontend
