#include "core/quoted_form.hpp"

#include <utf8proc.h>

#include <cstdio>

namespace morvik::core {
namespace {

// Control, format, private-use, surrogate and unassigned code points, and
// every separator but the space: none of them shows as what it is.
bool printable(utf8proc_int32_t code_point) {
  switch (utf8proc_category(code_point)) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
      return false;
    case UTF8PROC_CATEGORY_ZS:
      return code_point == ' ';
    default:
      return true;
  }
}

// A combining mark would fuse with the quote or character before it. The
// grapheme "extend" class also holds the emoji skin-tone modifiers, which
// stand on their own and are left alone.
bool grapheme_extend(utf8proc_int32_t code_point) {
  return utf8proc_get_property(code_point)->boundclass == UTF8PROC_BOUNDCLASS_EXTEND &&
         utf8proc_category(code_point) != UTF8PROC_CATEGORY_SK;
}

// With `quoting`, double quotes and backslashes are escaped too, so that the
// closing quote is the only one unescaped.
void append_escaped(std::string& out, utf8proc_int32_t code_point, bool quoting) {
  switch (code_point) {
    case '"':
    case '\\':
      if (quoting) out += '\\';
      out += static_cast<char>(code_point);
      return;
    case '\t': out += "\\t"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\0': out += "\\0"; return;
    default: break;
  }
  if (!printable(code_point) || grapheme_extend(code_point)) {
    char escape[16];
    std::snprintf(escape, sizeof escape, "\\u{%x}", static_cast<unsigned>(code_point));
    out += escape;
    return;
  }
  utf8proc_uint8_t bytes[4];
  const auto length = utf8proc_encode_char(code_point, bytes);
  out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
}

void append_text(std::string& out, std::string_view text, bool quoting) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  for (std::size_t at = 0; at < text.size();) {
    utf8proc_int32_t code_point = 0;
    const auto length =
        utf8proc_iterate(bytes + at, static_cast<utf8proc_ssize_t>(text.size() - at), &code_point);
    if (length <= 0) {
      append_escaped(out, 0xFFFD, quoting);
      ++at;
      continue;
    }
    append_escaped(out, code_point, quoting);
    at += static_cast<std::size_t>(length);
  }
}

}  // namespace

std::string quoted_form(std::string_view text) {
  std::string out = "\"";
  append_text(out, text, /*quoting=*/true);
  out += '"';
  return out;
}

std::string printable_form(std::string_view text) {
  std::string out;
  append_text(out, text, /*quoting=*/false);
  return out;
}

}  // namespace morvik::core
