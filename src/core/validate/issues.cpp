#include "core/validate/issues.hpp"

#include "core/overloaded.hpp"
#include "core/quoted_form.hpp"

namespace morvik::core::validate {

std::string debug_string(const ValidationIssue& issue) {
  using I = ValidationIssue;
  return std::visit(
      Overloaded{
          [](const I::InvalidStructure& c) { return "InvalidStructure(" + quoted_form(c.message) + ")"; },
          [](const I::InvalidSignature& c) { return "InvalidSignature(" + core::debug_string(c.key) + ")"; },
          [](const I::UnknownSignerKey& c) { return "UnknownSignerKey(" + core::debug_string(c.key_hash) + ")"; },
          [](const I::RootNotTrusted&) { return std::string("RootNotTrusted"); },
          [](const I::AmbiguousRoot&) { return std::string("AmbiguousRoot"); },
          [](const I::AuthorityDidNotConverge&) { return std::string("AuthorityDidNotConverge"); },
          [](const I::DeletionWorkLimitExceeded&) { return std::string("DeletionWorkLimitExceeded"); },
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
