#include "core/ids.hpp"

#include <utility>

#include "cord/recently_decoded.hpp"

namespace morvik::core {

UserId recently_decoded(UserId id) {
  thread_local cord::RecentlyDecoded recent;
  return UserId{HashValue{recent.share(std::move(id.hash.bytes))}};
}

}  // namespace morvik::core
