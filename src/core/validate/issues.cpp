#include "core/validate/issues.hpp"

#include <cstdio>

#include "core/overloaded.hpp"

namespace morvik::core::validate {
namespace {

// A text between double quotes, with quotes, backslashes and control
// characters escaped, so that the message stays one unambiguous line.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\0': out += "\\0"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char escape[16];
          std::snprintf(escape, sizeof escape, "\\u{%x}", byte);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace

std::string debug_string(const ValidationIssue& issue) {
  using I = ValidationIssue;
  return std::visit(
      Overloaded{
          [](const I::InvalidStructure& c) { return "InvalidStructure(" + quoted(c.message) + ")"; },
          [](const I::InvalidSignature& c) { return "InvalidSignature(" + core::debug_string(c.key) + ")"; },
          [](const I::UnknownSignerKey& c) { return "UnknownSignerKey(" + core::debug_string(c.key_hash) + ")"; },
          [](const I::RootNotTrusted&) { return std::string("RootNotTrusted"); },
          [](const I::AmbiguousRoot&) { return std::string("AmbiguousRoot"); },
          [](const I::AuthorityDidNotConverge&) { return std::string("AuthorityDidNotConverge"); },
          [](const I::FormatVersionRegression& c) {
            return "FormatVersionRegression { remembered: " + std::to_string(c.remembered) +
                   ", current: " + std::to_string(c.current) + " }";
          },
      },
      issue.value);
}

std::string debug_string(const ValidationWarning& warning) {
  using W = ValidationWarning;
  return std::visit(Overloaded{
                        [](const W::UnknownRecordsIgnored& c) {
                          return "UnknownRecordsIgnored(" + std::to_string(c.count) + ")";
                        },
                        [](const W::AmbiguousSignerKey& c) {
                          return "AmbiguousSignerKey(" + core::debug_string(c.key_hash) + ")";
                        },
                    },
                    warning.value);
}

}  // namespace morvik::core::validate
