#include "core/secret.hpp"

#include <sodium.h>

namespace morvik::core {

void wipe(void* data, std::size_t size) noexcept {
  if (size != 0) sodium_memzero(data, size);
}

}  // namespace morvik::core
