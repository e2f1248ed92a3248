#include "core/ids.hpp"

#include <array>

namespace morvik::core {

UserId recently_decoded(UserId id) {
  // Few enough to search in passing, enough for the users one vault names.
  thread_local std::array<UserId, 8> recent;
  thread_local std::size_t next = 0;
  for (const UserId& known : recent) {
    if (known == id) return known;
  }
  recent[next] = id;
  next = (next + 1) % recent.size();
  return id;
}

}  // namespace morvik::core
