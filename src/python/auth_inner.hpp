#pragma once

// What an Auth object records: how a vault is to authenticate, and with
// what. Passphrases and invitation material sit in wiping buffers, so they
// are overwritten when the Auth object, or a vault's copy of it, goes.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "crypto/secret.hpp"

namespace morvik::python {

// Invitation material, in the form its Python type said: text (the UTF-8 of
// a str) or the binary form.
namespace invite_input {
struct Text {
  crypto::SecretBytes utf8;
  std::string_view text() const { return {reinterpret_cast<const char*>(utf8.data()), utf8.size()}; }
};
struct Bytes {
  crypto::SecretBytes bytes;
};
}  // namespace invite_input
using InviteInput = std::variant<invite_input::Text, invite_input::Bytes>;

namespace auth_inner {
// Unlock through the keychain; an absent passphrase is asked for on the terminal.
struct Keychain {
  std::optional<std::string> user;
  std::optional<crypto::SecretBytes> passphrase;
};
struct Invite {
  InviteInput input;
};
// The names of the environment variables to read when a vault is opened.
struct Env {
  std::string invite;
  std::string invite_file;
};
}  // namespace auth_inner
using AuthInner = std::variant<auth_inner::Keychain, auth_inner::Invite, auth_inner::Env>;

}  // namespace morvik::python
