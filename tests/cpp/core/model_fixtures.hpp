#pragma once

// Small builders shared by the record model tests.

#include <cstdint>
#include <string_view>

#include "core/domain_hash.hpp"
#include "core/ids.hpp"
#include "core/provider.hpp"
#include "support/cord/hex.hpp"

namespace morvik::core::model_test {

using testing::hex;
using testing::to_hex;

// The domain hash without signatures: all the derivations need.
struct HashOnlyProvider {
  HashValue hash(std::string_view domain, cord::ByteView data) const { return domain_hash(domain, data); }
  bool verify_signature(std::string_view, cord::ByteView, cord::ByteView, cord::ByteView) const { return false; }
};
static_assert(CryptoProvider<HashOnlyProvider>);

inline cord::Bytes filled(std::size_t size, std::uint8_t byte) { return cord::Bytes(size, byte); }

// A 32-byte identifier of any kind, every byte `byte`.
template <class Id>
Id id_of(std::uint8_t byte) {
  return Id{HashValue{filled(32, byte)}};
}

// "00000020" followed by 32 bytes of `byte`, in hex: an identifier's encoding.
inline std::string id_hex(std::uint8_t byte) {
  return "00000020" + to_hex(filled(32, byte));
}

inline std::string u64_hex(std::uint64_t value) {
  cord::Bytes out(8);
  for (int i = 7; i >= 0; --i, value >>= 8) out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
  return to_hex(out);
}

}  // namespace morvik::core::model_test
