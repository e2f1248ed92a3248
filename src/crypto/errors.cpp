#include "crypto/errors.hpp"

namespace morvik::crypto {

CryptoError random_failure(const RandomError& error) { return CryptoError{CryptoError::Random{error.description()}}; }

}  // namespace morvik::crypto
