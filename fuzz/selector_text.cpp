// Selector text: a selector that parses has one canonical text, which parses
// back to the same selector and is its own canonical text, and the selector
// can be stored (its strings are in NFC).

#include "check.hpp"
#include "cord/cord.hpp"
#include "frontend/selector.hpp"

using namespace morvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto selector = frontend::parse_secret_selector(fuzz::text(data, size));
  if (!selector) return 0;
  const std::string canonical = frontend::selector_string(*selector);
  auto reparsed = frontend::parse_secret_selector(canonical);
  fuzz::check(reparsed && *reparsed == *selector, "the canonical text parses to the selector");
  fuzz::check(frontend::selector_string(*reparsed) == canonical, "the canonical text is its own canonical text");
  auto stored = cord::serialize(*selector);
  fuzz::check(stored.has_value(), "a parsed selector can be stored");
  auto read = cord::deserialize<core::SecretSelectorV1>(*stored);
  fuzz::check(read && *read == *selector, "a stored selector reads back as itself");
  return 0;
}
