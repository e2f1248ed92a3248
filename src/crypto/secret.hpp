#pragma once

// Containers for key material: seeds, private keys, derived keys, content keys
// and decrypted plaintexts. Both overwrite their whole storage with zeros
// before it is returned to the allocator.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

namespace morvik::crypto {

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

}  // namespace morvik::crypto
