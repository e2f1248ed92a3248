#pragma once

#include <string_view>

#include "core/hash_value.hpp"
#include "core/provider.hpp"
#include "cord/wire.hpp"

namespace morvik::crypto {

// The one CryptoProvider: the domain hash and strict signature checks. It
// holds no state, so copies are interchangeable.
class Crypto {
 public:
  core::HashValue hash(std::string_view domain, cord::ByteView data) const;
  bool verify_signature(std::string_view domain, cord::ByteView public_key, cord::ByteView message,
                        cord::ByteView signature) const;
};

static_assert(core::CryptoProvider<Crypto>);

}  // namespace morvik::crypto
