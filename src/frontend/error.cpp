#include "frontend/error.hpp"

#include "core/overloaded.hpp"
#include "core/quoted_form.hpp"

namespace morvik::frontend {

std::string FrontendError::message() const {
  using core::quoted_form;
  return std::visit(
      core::Overloaded{
          [](const Ops& e) { return e.error.message(); },
          [](const Keychain& e) { return e.error.message(); },
          [](const Cord& e) { return "Cord error: " + e.error.message(); },
          [](const IoAt& e) { return "I/O error at " + e.path.display() + ": " + e.error.text; },
          [](const InvalidSelector& e) {
            return "invalid selector " + quoted_form(e.input) + ": " + std::string(e.reason);
          },
          [](const InvalidHex& e) { return "invalid " + std::string(e.what) + " hex: " + std::string(e.detail); },
          [](const HexLength& e) {
            return "expected " + std::string(e.what) + " hex to decode to " + std::to_string(e.expected) +
                   " bytes, got " + std::to_string(e.got);
          },
          [](const InviteFormConflict&) { return std::string("pass exactly one of the string or file form"); },
          [](const MalformedInvitation&) {
            return std::string("invitation string is malformed or has a bad checksum");
          },
          [](const WrongInvitationPrefix& e) {
            return "not the expected Morvik invitation (prefix " + quoted_form(e.prefix) +
                   "; invitations are mrvk1\u2026)";
          },
          [](const EnvNotUtf8& e) { return "environment variable " + e.name + " must be valid UTF-8"; },
          [](const InvalidUserHandle& e) {
            return "invalid user handle " + quoted_form(e.input) + ": " + std::string(e.reason);
          },
          [](const NoDefaultIdentity&) {
            return std::string("no default Morvik identity is configured; pass --user once");
          },
          [](const NoUserMatches& e) { return "no user matches " + quoted_form(e.input); },
          [](const AmbiguousUser& e) { return "user " + quoted_form(e.input) + " is ambiguous"; },
      },
      value);
}

}  // namespace morvik::frontend
