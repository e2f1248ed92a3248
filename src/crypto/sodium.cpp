#include "crypto/sodium.hpp"

#include <sodium.h>

namespace morvik::crypto {

void ensure_sodium_initialized() noexcept {
  static const int status = sodium_init();
  (void)status;
}

}  // namespace morvik::crypto
