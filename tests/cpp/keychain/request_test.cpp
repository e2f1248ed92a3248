#include "keychain/request.hpp"

#include <gtest/gtest.h>

namespace morvik::keychain {
namespace {

namespace p = key_use_purpose;

KeychainRequest request_for(const char* workspace, KeyUsePurpose purpose) {
  core::HashValue root{{0xde, 0xad, 0xbe, 0xef, 0x01, 0x02}};
  core::UserId user{core::HashValue{{0x0a, 0x1b, 0x2c, 0x3d, 0x4e}}};
  return KeychainRequest{store::Path(workspace), store::Path(workspace).join(".morvik/vault.cord"), root, user,
                         std::nullopt, std::nullopt, std::move(purpose)};
}

core::SecretSelectorV1 app_db() { return core::SecretSelectorV1{{"app", "db"}, {{"env", "prod"}, {"region", "eu"}}}; }

TEST(PassphrasePrompt, NamesTheLabelledUserVaultAndPurpose) {
  auto request = request_for("/w", p::Custom{"deploy"}).with_labels("payments", "ops");
  EXPECT_EQ(passphrase_prompt(request), "Unlock Morvik keychain for user \"ops\" in project \"payments\" to deploy: ");
}

TEST(PassphrasePrompt, FallsBackToShortHexAndTheWorkspaceName) {
  EXPECT_EQ(passphrase_prompt(request_for("/w/proj", p::Set{app_db()}).with_labels("", "")),
            "Unlock Morvik keychain for user \"0a1b2c3d\" in project \"deadbeef\" to set app/db{env=prod,region=eu}: ");
  EXPECT_EQ(passphrase_prompt(request_for("/w/proj", p::StoreIdentity{})),
            "Unlock Morvik keychain for user \"this identity\" in project \"proj\" to store this identity: ");
  for (const char* no_name : {"", "/w/..", "/"}) {
    EXPECT_EQ(vault_for_prompt(request_for(no_name, p::StoreIdentity{})), "deadbeef") << no_name;
  }
  // Shorter identifiers are shown whole.
  auto short_ids = request_for("/w", p::VerifyAndInspect{});
  short_ids.user = core::UserId{core::HashValue{{0xab}}};
  EXPECT_EQ(user_for_prompt(short_ids), "ab");
}

// Labels, selectors and paths can come from a crafted vault or workspace;
// none of their control characters reaches the terminal as such.
TEST(PassphrasePrompt, EscapesWhatCouldRewriteTheTerminal) {
  const core::SecretSelectorV1 crafted{{"app\x1b[2J", "db"}, {{"k", "v\r"}}};
  auto request = request_for("/w", p::Reveal{crafted, output_sink::File{store::Path("/tmp/\x1b]0;x\x07")}})
                     .with_labels("pay\"ments\x1b[1A", "o\\ps\n");
  EXPECT_EQ(passphrase_prompt(request),
            "Unlock Morvik keychain for user \"o\\\\ps\\n\" in project \"pay\\\"ments\\u{1b}[1A\" to reveal "
            "app\\u{1b}[2J/db{k=v\\r} to file /tmp/\\u{1b}]0;x\\u{7}: ");
  request = request_for("/w", p::Custom{"say \"hi\" \\ \u200b\u0301"});
  EXPECT_EQ(passphrase_prompt(request), "Unlock Morvik keychain for user \"0a1b2c3d\" in project \"deadbeef\" to say "
                                        "\"hi\" \\ \\u{200b}\\u{301}: ");
}

TEST(PassphrasePrompt, PurposeTexts) {
  const core::SecretSelectorV1 root_only{};
  const core::SecretSelectorV1 labels_only{{}, {{"k", "v"}}};
  struct Case {
    KeyUsePurpose purpose;
    std::string text;
  };
  const Case cases[] = {
      {p::Reveal{app_db(), output_sink::Stdout{}}, "reveal app/db{env=prod,region=eu} to stdout"},
      {p::Reveal{root_only, output_sink::File{store::Path("/tmp/out\xff")}}, "reveal <root> to file /tmp/out\xef\xbf\xbd"},
      {p::Reveal{labels_only, output_sink::Clipboard{}}, "reveal <root>{k=v} to clipboard"},
      {p::Reveal{root_only, output_sink::ChildProcess{{}}}, "reveal <root> to child process <empty command>"},
      {p::Reveal{root_only, output_sink::ChildProcess{{"env", "-i"}}}, "reveal <root> to child process env -i"},
      {p::Reveal{root_only, output_sink::SdkCaller{"python"}}, "reveal <root> to SDK caller python"},
      {p::Reveal{root_only, output_sink::Custom{"a pipe"}}, "reveal <root> to a pipe"},
      {p::Run{{"a", "b"}, {}}, "run <empty command> with 2 selectors"},
      {p::Run{{"a/b"}, {"make", "deploy"}}, "run make deploy with a/b"},
      {p::Run{{}, {"ls"}}, "run ls with no selectors"},
      {p::Move{root_only, app_db()}, "move <root> to app/db{env=prod,region=eu}"},
      {p::Delete{labels_only}, "delete <root>{k=v}"},
      {p::VerifyAndInspect{}, "verify and inspect the vault"},
  };
  for (const Case& c : cases) EXPECT_EQ(purpose_text(c.purpose), c.text);
}

}  // namespace
}  // namespace morvik::keychain
