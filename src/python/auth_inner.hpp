#pragma once

// What an Auth object records: how a vault is to authenticate, and with
// what. Passphrases and invitation material are overwritten when the Auth
// object goes: they sit in wiping buffers, or in a `bytes` object the Auth
// object holds, wiped when it is the last to hold it.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "cord/wire.hpp"
#include "crypto/secret.hpp"
#include "python/held_bytes.hpp"

namespace morvik::python {

// Invitation material, in the form its Python type said: text (the UTF-8 of
// a str) or the binary form.
namespace invite_input {
struct Text {
  crypto::SecretBytes utf8;
  std::string_view text() const { return {reinterpret_cast<const char*>(utf8.data()), utf8.size()}; }
};
struct Bytes {
  // A `bytes` object is held; any other sequence is copied.
  std::variant<HeldBytes, crypto::SecretBytes> source;
  cord::ByteView bytes() const {
    if (const auto* held = std::get_if<HeldBytes>(&source)) return held->view();
    return std::get<crypto::SecretBytes>(source);
  }
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
