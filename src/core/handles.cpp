#include "core/handles.hpp"

#include "core/white_space.hpp"

namespace morvik::core {
namespace {

bool is_lower_alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

}  // namespace

bool is_valid_handle(std::string_view handle) {
  if (handle.empty() || handle.size() > 64) return false;
  if (!is_lower_alnum(handle.front()) || !is_lower_alnum(handle.back())) return false;
  for (char c : handle) {
    if (!is_lower_alnum(c) && c != '-' && c != '_') return false;
  }
  return true;
}

std::string normalize_handle(std::string_view text) {
  std::string out(trim_white_space(text));
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace morvik::core
