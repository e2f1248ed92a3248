#pragma once

// What validation finds: issues (the record set cannot be trusted as it
// stands) and warnings (notes that change nothing). Each has a debug form,
// which users see inside "validation failed: ..." messages.

#include <cstdint>
#include <expected>
#include <ostream>
#include <string>
#include <utility>
#include <variant>

#include "core/hash_value.hpp"
#include "core/record_key.hpp"

namespace morvik::core::validate {

struct ValidationIssue {
  struct InvalidStructure {
    std::string message;
    auto operator<=>(const InvalidStructure&) const = default;
  };
  // The slot the record would have occupied.
  struct InvalidSignature {
    RecordKey key;
    auto operator<=>(const InvalidSignature&) const = default;
  };
  // The key hash of a signing key assigned to no user.
  struct UnknownSignerKey {
    HashValue key_hash;
    auto operator<=>(const UnknownSignerKey&) const = default;
  };
  struct RootNotTrusted {
    auto operator<=>(const RootNotTrusted&) const = default;
  };
  struct AmbiguousRoot {
    auto operator<=>(const AmbiguousRoot&) const = default;
  };
  struct AuthorityDidNotConverge {
    auto operator<=>(const AuthorityDidNotConverge&) const = default;
  };
  // Applying the deletions changed the authority rounds more than a history
  // of this size allows; the vault is refused rather than followed.
  struct DeletionWorkLimitExceeded {
    auto operator<=>(const DeletionWorkLimitExceeded&) const = default;
  };
  struct FormatVersionRegression {
    std::uint64_t remembered = 0;
    std::uint64_t current = 0;
    auto operator<=>(const FormatVersionRegression&) const = default;
  };

  using Case = std::variant<InvalidStructure, InvalidSignature, UnknownSignerKey, RootNotTrusted, AmbiguousRoot,
                            AuthorityDidNotConverge, DeletionWorkLimitExceeded, FormatVersionRegression>;
  Case value;

  template <class C>
    requires std::is_constructible_v<Case, C>
  ValidationIssue(C c) : value(std::move(c)) {}

  bool operator==(const ValidationIssue&) const = default;
};

struct ValidationWarning {
  struct UnknownRecordsIgnored {
    std::uint64_t count = 0;
    auto operator<=>(const UnknownRecordsIgnored&) const = default;
  };
  // The key hash of a signing key that several trusted users declare.
  struct AmbiguousSignerKey {
    HashValue key_hash;
    auto operator<=>(const AmbiguousSignerKey&) const = default;
  };

  using Case = std::variant<UnknownRecordsIgnored, AmbiguousSignerKey>;
  Case value;

  template <class C>
    requires std::is_constructible_v<Case, C>
  ValidationWarning(C c) : value(std::move(c)) {}

  bool operator==(const ValidationWarning&) const = default;
};

// The outcome of a check that either passes or finds one issue.
using CheckResult = std::expected<void, ValidationIssue>;

// A check's finding that a record is not well formed in itself.
inline std::unexpected<ValidationIssue> invalid_structure(std::string message) {
  return std::unexpected(ValidationIssue{ValidationIssue::InvalidStructure{std::move(message)}});
}

// `InvalidStructure("invalid grant")`, `RootNotTrusted`,
// `FormatVersionRegression { remembered: 2, current: 1 }`.
std::string debug_string(const ValidationIssue& issue);
// `UnknownRecordsIgnored(3)`, `AmbiguousSignerKey(HashValue([...]))`.
std::string debug_string(const ValidationWarning& warning);

inline std::ostream& operator<<(std::ostream& out, const ValidationIssue& issue) { return out << debug_string(issue); }
inline std::ostream& operator<<(std::ostream& out, const ValidationWarning& warning) {
  return out << debug_string(warning);
}

}  // namespace morvik::core::validate
