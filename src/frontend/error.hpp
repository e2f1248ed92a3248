#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "cord/error.hpp"
#include "keychain/error.hpp"
#include "ops/error.hpp"
#include "store/io_error.hpp"
#include "store/path.hpp"

namespace morvik::frontend {

// The error of the front-end routines: selector text, user references and
// invitations. The Python layer chooses exception classes by searching the
// texts, so keep them word for word.
struct FrontendError {
  // The operation error's own text.
  struct Ops {
    ops::OpsError error;
  };
  // The keychain error's own text.
  struct Keychain {
    keychain::KeychainError error;
  };
  // "Cord error: {error}"
  struct Cord {
    cord::CordError error;
  };
  // "I/O error at {path}: {error}"
  struct IoAt {
    store::Path path;
    store::IoError error;
  };
  // The whole selector text received, and a fixed reason.
  struct InvalidSelector {
    std::string input;
    std::string_view reason;
  };
  struct InvalidHex {
    std::string_view what;
    std::string_view detail;
  };
  struct HexLength {
    std::string_view what;
    std::size_t expected = 0;
    std::size_t got = 0;
  };
  struct InviteFormConflict {};
  struct MalformedInvitation {};
  // The prefix as written.
  struct WrongInvitationPrefix {
    std::string prefix;
  };
  struct EnvNotUtf8 {
    std::string name;
  };
  struct InvalidUserHandle {
    std::string input;
    std::string_view reason;
  };
  struct NoDefaultIdentity {};
  struct NoUserMatches {
    std::string input;
  };
  struct AmbiguousUser {
    std::string input;
  };

  using Case = std::variant<Ops, Keychain, Cord, IoAt, InvalidSelector, InvalidHex, HexLength, InviteFormConflict,
                            MalformedInvitation, WrongInvitationPrefix, EnvNotUtf8, InvalidUserHandle,
                            NoDefaultIdentity, NoUserMatches, AmbiguousUser>;
  Case value;

  template <class C>
    requires std::is_constructible_v<Case, C>
  FrontendError(C c) : value(std::move(c)) {}
  FrontendError(ops::OpsError e) : value(Ops{std::move(e)}) {}
  FrontendError(keychain::KeychainError e) : value(Keychain{std::move(e)}) {}
  FrontendError(cord::CordError e) : value(Cord{std::move(e)}) {}

  template <class C>
  const C* as() const {
    return std::get_if<C>(&value);
  }

  std::string message() const;
};

template <class T>
using FrontendResult = std::expected<T, FrontendError>;

inline std::unexpected<FrontendError> fail(FrontendError e) { return std::unexpected(std::move(e)); }

}  // namespace morvik::frontend
