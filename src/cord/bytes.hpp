#pragma once

// The byte buffer every encoding is written to. Encoding a secret value
// grows and drops intermediate buffers that each hold part of it; while a
// SensitiveEncoding is alive on a thread, every such buffer that thread
// returns to the allocator is zeroed first.

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace morvik::cord {

namespace detail {
// Whether this thread is inside a SensitiveEncoding.
bool wiping_freed_bytes() noexcept;
// Zeroes memory in a way the optimiser cannot drop.
void wipe_bytes(void* data, std::size_t size) noexcept;
}  // namespace detail

template <class T>
struct EncodingAllocator {
  using value_type = T;

  EncodingAllocator() noexcept = default;
  template <class U>
  EncodingAllocator(const EncodingAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept {
    if (detail::wiping_freed_bytes()) detail::wipe_bytes(p, n * sizeof(T));
    ::operator delete(p);
  }

  template <class U>
  bool operator==(const EncodingAllocator<U>&) const noexcept {
    return true;
  }
};

using Bytes = std::vector<std::uint8_t, EncodingAllocator<std::uint8_t>>;

// While alive, encoding buffers freed by this thread are zeroed. Nests.
class SensitiveEncoding {
 public:
  SensitiveEncoding() noexcept;
  ~SensitiveEncoding();
  SensitiveEncoding(const SensitiveEncoding&) = delete;
  SensitiveEncoding& operator=(const SensitiveEncoding&) = delete;
};

}  // namespace morvik::cord
