#pragma once

// Containers for key material: seeds, private keys, derived keys, content keys
// and decrypted plaintexts. Both overwrite their whole storage with zeros
// before it is returned to the allocator. They stand this low so that the
// record types that carry such material (invitations, decrypted secret
// values) can hold it too.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "cord/cord.hpp"

namespace morvik::core {

// Zeroes memory in a way the optimiser cannot drop.
void wipe(void* data, std::size_t size) noexcept;

template <class T>
struct WipingAllocator {
  using value_type = T;

  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept {
    wipe(p, n * sizeof(T));
    ::operator delete(p);
  }

  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

// A growable byte buffer for secrets; a reallocation wipes the old storage too.
using SecretBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

// A fixed-size secret held by value.
template <std::size_t N>
class SecretArray {
 public:
  SecretArray() noexcept : bytes_{} {}
  explicit SecretArray(std::span<const std::uint8_t, N> bytes) noexcept {
    std::copy(bytes.begin(), bytes.end(), bytes_.begin());
  }
  SecretArray(const SecretArray&) noexcept = default;
  SecretArray& operator=(const SecretArray&) noexcept = default;
  ~SecretArray() { wipe(bytes_.data(), N); }

  std::uint8_t* data() noexcept { return bytes_.data(); }
  const std::uint8_t* data() const noexcept { return bytes_.data(); }
  static constexpr std::size_t size() noexcept { return N; }
  std::span<std::uint8_t, N> span() noexcept { return bytes_; }
  std::span<const std::uint8_t, N> span() const noexcept { return bytes_; }

 private:
  std::array<std::uint8_t, N> bytes_;
};

}  // namespace morvik::core

namespace morvik::cord {

// Secret bytes are written as an ordinary byte string and read straight into
// wiping storage.
template <>
struct Codec<core::SecretBytes> {
  static Status write(CordSerializer s, const core::SecretBytes& v) { return s.write_bytes(v); }
  static Result<core::SecretBytes> read(CordDeserializer& d) {
    return d.nested([&]() -> Result<core::SecretBytes> {
      auto count = d.parse_length();
      if (!count) return fail(std::move(count.error()));
      auto bytes = d.read_bytes(*count);
      if (!bytes) return fail(std::move(bytes.error()));
      return core::SecretBytes(bytes->begin(), bytes->end());
    });
  }
};

}  // namespace morvik::cord
