#pragma once

// The one way a text from outside is shown inside a message: between double
// quotes, with everything that could hide, break or reorder the line
// escaped, so that what the reader sees is exactly what was given.

#include <string>
#include <string_view>

namespace morvik::core {

// `"a\"b"`, `"tab\t"`, `"\u{7}"`; letters of every script, digits,
// punctuation, the space and the single quote stay themselves. A byte that
// is not part of well-formed UTF-8 shows as U+FFFD.
std::string quoted_form(std::string_view text);

// The text's characters as quoted_form shows them, without the surrounding
// quotes and with double quotes and backslashes left as they are: for text
// that stands unquoted in a line written to a person, such as a prompt,
// where a control character could otherwise rewrite what is shown.
std::string printable_form(std::string_view text);

}  // namespace morvik::core
