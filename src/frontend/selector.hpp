#pragma once

// The selector text syntax: "app/db@env=prod&region=eu". Path segments are
// separated by "/", labels follow the first "@" as key=value pairs joined by
// "&"; double quotes make the delimiters ordinary, a backslash makes the next
// character ordinary.

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/selectors.hpp"
#include "frontend/error.hpp"

namespace morvik::frontend {

// The segments in the order written and the labels sorted by key, each
// segment, key and value in NFC. Fails with InvalidSelector carrying `text`.
FrontendResult<core::SecretSelectorV1> parse_secret_selector(std::string_view text);

// The one canonical text of a selector; parsing it gives the selector back
// whenever it has a segment, nothing empty and sorted, distinct label keys.
std::string selector_string(const core::SecretSelectorV1& selector);

// The pieces between every `delimiter` outside quotes and escapes: at least
// one, possibly empty, each keeping its quotes and backslashes.
std::vector<std::string_view> split_unquoted(std::string_view text, char delimiter);

// The text before and after the first `delimiter` outside quotes and escapes.
std::optional<std::pair<std::string_view, std::string_view>> split_once_unquoted(std::string_view text,
                                                                                 char delimiter);

// One piece without its quotes and escaping backslashes; `input` is the
// whole selector text, which a failure reports.
FrontendResult<std::string> decode_field(std::string_view piece, std::string_view input);

// The decoded segments of the path part of `input`.
FrontendResult<std::vector<std::string>> parse_tuple_path(std::string_view input, std::string_view path);

// A segment, key or value as the canonical text writes it: quoted when empty
// or when it holds one of ! " & / = @ or a backslash.
std::string escape_segment(std::string_view segment);

// The segments through escape_segment, joined by "/".
std::string escape_tuple(const std::vector<cord::CompactText>& segments);

// The stored shape of a selector built from parts that are already decoded
// and checked for emptiness: every segment, key and value in NFC, the labels
// sorted by key then value. Fails with the reason when two keys are equal
// once normalised, or when a text is not UTF-8. Comparing raw texts instead
// would let two labels that normalise out of order, or to one key, reach a
// record that no reader accepts.
std::expected<core::SecretSelectorV1, std::string_view> canonical_selector(std::vector<std::string> tuple,
                                                                         std::vector<core::SecretLabelV1> labels);

// The reasons of InvalidSelector.
namespace selector_reason {
inline constexpr std::string_view kDanglingEscape = "selector ends with a dangling backslash escape";
inline constexpr std::string_view kUnterminatedQuote = "selector has an unterminated quote";
inline constexpr std::string_view kEmpty = "selector must not be empty";
inline constexpr std::string_view kEmptySegment = "selector path must not contain empty segments";
inline constexpr std::string_view kLabelShape = "secret labels are @key=value pairs separated by &";
inline constexpr std::string_view kEmptyLabelPart = "label keys and values must not be empty";
inline constexpr std::string_view kDuplicateKey = "a label key may appear only once";
inline constexpr std::string_view kNotUtf8 = "selector is not valid UTF-8";
}  // namespace selector_reason

}  // namespace morvik::frontend
