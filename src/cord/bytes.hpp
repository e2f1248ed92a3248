#pragma once

// The byte buffer every encoding is written to. Encoding a secret value
// grows and drops intermediate buffers that each hold part of it; while a
// SensitiveEncoding is alive on a thread, every such buffer that thread
// returns to the allocator is zeroed first.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <vector>

namespace morvik::cord {

// What the encoding allocator makes an element from by leaving it
// unwritten: storage that is about to be overwritten whole is not zeroed
// first.
struct Uninitialized {};

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
  void construct(U* p, Uninitialized) noexcept {
    ::new (static_cast<void*>(p)) U;
  }

  template <class U>
  bool operator==(const EncodingAllocator<U>&) const noexcept {
    return true;
  }
};

using Bytes = std::vector<std::uint8_t, EncodingAllocator<std::uint8_t>>;

namespace detail {
// `size` times Uninitialized, as the range a vector is built from.
class UninitializedRun {
 public:
  using iterator_category = std::random_access_iterator_tag;
  using value_type = Uninitialized;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = Uninitialized;

  explicit UninitializedRun(std::size_t at) noexcept : at_(at) {}
  Uninitialized operator*() const noexcept { return {}; }
  UninitializedRun& operator++() noexcept {
    ++at_;
    return *this;
  }
  difference_type operator-(const UninitializedRun& other) const noexcept {
    return static_cast<difference_type>(at_ - other.at_);
  }
  bool operator==(const UninitializedRun&) const = default;

 private:
  std::size_t at_;
};
}  // namespace detail

// `size` bytes of unspecified value, for a caller that overwrites them all
// (a read buffer): `Bytes(size)` zeroes them first.
inline Bytes uninitialized_bytes(std::size_t size) {
  return Bytes(detail::UninitializedRun(0), detail::UninitializedRun(size));
}

// While alive, encoding buffers freed by this thread are zeroed. Nests.
class SensitiveEncoding {
 public:
  SensitiveEncoding() noexcept;
  ~SensitiveEncoding();
  SensitiveEncoding(const SensitiveEncoding&) = delete;
  SensitiveEncoding& operator=(const SensitiveEncoding&) = delete;
};

}  // namespace morvik::cord
