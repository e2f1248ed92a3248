#include "store/path.hpp"

#include <vector>

namespace morvik::store {

namespace {

struct Component {
  std::size_t start;
  std::size_t end;
};

// The components between separators, skipping empty names and "." after the
// first component; a leading "/" is a component of its own.
std::vector<Component> components(std::string_view path) {
  std::vector<Component> out;
  std::size_t i = 0;
  if (!path.empty() && path[0] == '/') {
    out.push_back({0, 1});
    while (i < path.size() && path[i] == '/') ++i;
  }
  while (i < path.size()) {
    std::size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view name = path.substr(i, end - i);
    if (!name.empty() && !(name == "." && !out.empty())) out.push_back({i, end});
    i = end;
    while (i < path.size() && path[i] == '/') ++i;
  }
  return out;
}

std::optional<std::string> parent_of(const std::string& path) {
  const auto parts = components(path);
  if (parts.empty()) return std::nullopt;
  if (parts.size() == 1) {
    if (path[parts[0].start] == '/') return std::nullopt;
    return std::string();
  }
  return path.substr(0, parts[parts.size() - 2].end);
}

std::string joined(const std::string& base, std::string_view name) {
  if (base.empty()) return std::string(name);
  std::string out = base;
  if (out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
}

}  // namespace

std::optional<Path> Path::parent() const {
  auto parent_bytes = parent_of(bytes_);
  if (!parent_bytes) return std::nullopt;
  Path parent(std::move(*parent_bytes));
  // Above the written text's first component only the absolute form is left.
  if (shown_) parent.shown_ = parent_of(*shown_);
  return parent;
}

std::optional<std::string_view> Path::final_name() const {
  const auto parts = components(bytes_);
  if (parts.empty()) return std::nullopt;
  const std::string_view last = std::string_view(bytes_).substr(parts.back().start, parts.back().end - parts.back().start);
  if (last == "/" || last == "." || last == "..") return std::nullopt;
  return last;
}

Path Path::join(std::string_view name) const {
  Path out(joined(bytes_, name));
  if (shown_) out.shown_ = joined(*shown_, name);
  return out;
}

Path Path::anchored_at(const Path& base) const {
  if (!bytes_.empty() && bytes_.front() == '/') return *this;
  Path out(bytes_.empty() ? base.bytes_ : joined(base.bytes_, bytes_));
  out.shown_ = shown_ ? *shown_ : bytes_;
  return out;
}

std::string Path::display() const { return lossy_utf8(shown_ ? *shown_ : bytes_); }

std::string lossy_utf8(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    // The continuation count and the range of the first continuation byte,
    // which rules out overlong forms, surrogates and values above U+10FFFF.
    std::size_t needed = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      needed = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      needed = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      needed = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    std::size_t valid = 1;  // bytes of the sequence accepted so far
    while (valid <= needed && i + valid < bytes.size()) {
      const auto c = static_cast<unsigned char>(bytes[i + valid]);
      const bool in_range = valid == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
      if (!in_range) break;
      ++valid;
    }
    if (needed != 0 && valid == needed + 1) {
      out.append(bytes.substr(i, valid));
    } else {
      out.append(kReplacement);
    }
    i += valid;
  }
  return out;
}

}  // namespace morvik::store
