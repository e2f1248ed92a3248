#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace morvik::store {

// A file-system path as the operating system's bytes. POSIX paths need not be
// UTF-8, so nothing here decodes them; `display` is only for messages.
class Path {
 public:
  Path() = default;
  Path(const char* bytes) : bytes_(bytes) {}
  explicit Path(std::string bytes) : bytes_(std::move(bytes)) {}
  explicit Path(std::string_view bytes) : bytes_(bytes) {}

  const std::string& bytes() const { return bytes_; }
  bool empty() const { return bytes_.empty(); }

  // The path without its last component: empty for a relative path of one
  // component, none for the empty path and for "/".
  std::optional<Path> parent() const;
  // The last component when it is an ordinary name (not "/", "." or "..").
  std::optional<std::string_view> final_name() const;
  // Appends "/" and `name`, without doubling a trailing "/"; the empty base
  // yields `name` itself.
  Path join(std::string_view name) const;
  // This path taken from the absolute directory `base` for every system
  // call, while messages go on showing it as it was written: a relative
  // path would otherwise name other files whenever the process changes its
  // current directory. An absolute path comes back unchanged. Paths made
  // from an anchored one by `join` and `parent` stay anchored.
  Path anchored_at(const Path& base) const;
  // The bytes as UTF-8 text, each invalid sequence replaced by U+FFFD; an
  // anchored path as it was written.
  std::string display() const;

  // Paths are the same file-system path when their bytes are equal, however
  // they are shown.
  bool operator==(const Path& other) const { return bytes_ == other.bytes_; }
  auto operator<=>(const Path& other) const { return bytes_ <=> other.bytes_; }

 private:
  std::string bytes_;
  // How an anchored path is shown; none shows the bytes.
  std::optional<std::string> shown_;
};

// Text with each maximal invalid UTF-8 subpart replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

}  // namespace morvik::store
