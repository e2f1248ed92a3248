#include "frontend/selector.hpp"

#include <algorithm>

#include "cord/wire.hpp"

namespace morvik::frontend {
namespace {

namespace reason = selector_reason;

// What a character is to the syntax, given the characters before it: plain
// (ordinary unless it is a delimiter outside quotes), escaped (ordinary
// whatever it is), or one of the two markers, which decoding drops.
enum class Role { Plain, Escaped, Quote, Backslash };

// The state shared by splitting and decoding: inside a quoted stretch or not,
// and whether the previous character was an escaping backslash.
struct Scanner {
  bool in_quotes = false;
  bool escape_pending = false;

  Role step(char c) {
    if (escape_pending) {
      escape_pending = false;
      return Role::Escaped;
    }
    if (c == '"') {
      in_quotes = !in_quotes;
      return Role::Quote;
    }
    if (c == '\\') {
      escape_pending = true;
      return Role::Backslash;
    }
    return Role::Plain;
  }
};

// Every special character is ASCII and no byte of a multi-byte UTF-8
// sequence is, so scanning bytes reads the same as scanning characters.
std::size_t find_unquoted(std::string_view text, char delimiter) {
  Scanner scanner;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (scanner.step(text[i]) == Role::Plain && text[i] == delimiter && !scanner.in_quotes) return i;
  }
  return std::string_view::npos;
}

std::unexpected<FrontendError> invalid(std::string_view input, std::string_view why) {
  return fail(FrontendError::InvalidSelector{std::string(input), why});
}

std::optional<std::string> nfc(std::string_view text) {
  auto normalized = cord::wire::normalize_nfc(text);
  if (!normalized) return std::nullopt;
  return std::string(normalized->text());
}

}  // namespace

std::vector<std::string_view> split_unquoted(std::string_view text, char delimiter) {
  // At a delimiter that counts both flags are clear, so the rest of the text
  // scans as if it started there.
  std::vector<std::string_view> pieces;
  for (;;) {
    const std::size_t at = find_unquoted(text, delimiter);
    pieces.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    text.remove_prefix(at + 1);
  }
}

std::optional<std::pair<std::string_view, std::string_view>> split_once_unquoted(std::string_view text,
                                                                                 char delimiter) {
  const std::size_t at = find_unquoted(text, delimiter);
  if (at == std::string_view::npos) return std::nullopt;
  return std::pair{text.substr(0, at), text.substr(at + 1)};
}

FrontendResult<std::string> decode_field(std::string_view piece, std::string_view input) {
  Scanner scanner;
  std::string out;
  for (const char c : piece) {
    const Role role = scanner.step(c);
    if (role == Role::Plain || role == Role::Escaped) out += c;
  }
  if (scanner.escape_pending) return invalid(input, reason::kDanglingEscape);
  if (scanner.in_quotes) return invalid(input, reason::kUnterminatedQuote);
  return out;
}

FrontendResult<std::vector<std::string>> parse_tuple_path(std::string_view input, std::string_view path) {
  if (path.empty()) return invalid(input, reason::kEmpty);
  std::vector<std::string> segments;
  for (const std::string_view piece : split_unquoted(path, '/')) {
    auto segment = decode_field(piece, input);
    if (!segment) return fail(std::move(segment.error()));
    if (segment->empty()) return invalid(input, reason::kEmptySegment);
    segments.push_back(std::move(*segment));
  }
  return segments;
}

FrontendResult<core::SecretSelectorV1> parse_secret_selector(std::string_view text) {
  const auto at = split_once_unquoted(text, '@');
  auto tuple = parse_tuple_path(text, at ? at->first : text);
  if (!tuple) return fail(std::move(tuple.error()));

  std::vector<core::SecretLabelV1> labels;
  if (at) {
    for (const std::string_view piece : split_unquoted(at->second, '&')) {
      const auto pair = split_once_unquoted(piece, '=');
      if (!pair) return invalid(text, reason::kLabelShape);
      auto key = decode_field(pair->first, text);
      if (!key) return fail(std::move(key.error()));
      auto value = decode_field(pair->second, text);
      if (!value) return fail(std::move(value.error()));
      if (key->empty() || value->empty()) return invalid(text, reason::kEmptyLabelPart);
      labels.push_back(core::SecretLabelV1{std::move(*key), std::move(*value)});
    }
  }

  auto selector = canonical_selector(std::move(*tuple), std::move(labels));
  if (!selector) return invalid(text, selector.error());
  return std::move(*selector);
}

std::expected<core::SecretSelectorV1, std::string_view> canonical_selector(std::vector<std::string> tuple,
                                                                         std::vector<core::SecretLabelV1> labels) {
  const auto normalize = [](auto& text) {
    auto composed = nfc(text);
    if (composed) text = std::move(*composed);
    return composed.has_value();
  };
  for (std::string& segment : tuple) {
    if (!normalize(segment)) return std::unexpected(reason::kNotUtf8);
  }
  for (core::SecretLabelV1& label : labels) {
    if (!normalize(label.key) || !normalize(label.value)) return std::unexpected(reason::kNotUtf8);
  }
  // std::string orders by unsigned bytes, a proper prefix first.
  std::sort(labels.begin(), labels.end());
  const auto same_key = [](const core::SecretLabelV1& a, const core::SecretLabelV1& b) { return a.key == b.key; };
  if (std::adjacent_find(labels.begin(), labels.end(), same_key) != labels.end()) {
    return std::unexpected(reason::kDuplicateKey);
  }
  return core::SecretSelectorV1{{tuple.begin(), tuple.end()}, std::move(labels)};
}

std::string escape_segment(std::string_view segment) {
  if (segment.empty()) return "\"\"";
  if (segment.find_first_of("!\"&/=@\\") == std::string_view::npos) return std::string(segment);
  std::string out = "\"";
  for (const char c : segment) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

std::string escape_tuple(const std::vector<cord::CompactText>& segments) {
  std::string out;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (i) out += '/';
    out += escape_segment(segments[i]);
  }
  return out;
}

std::string selector_string(const core::SecretSelectorV1& selector) {
  std::string out = escape_tuple(selector.tuple);
  for (std::size_t i = 0; i < selector.labels.size(); ++i) {
    out += i ? '&' : '@';
    out += escape_segment(selector.labels[i].key) + '=' + escape_segment(selector.labels[i].value);
  }
  return out;
}

}  // namespace morvik::frontend
