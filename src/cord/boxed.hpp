#pragma once

// A value kept behind a pointer, so that a variant with it as one of its
// alternatives stays two words wide. Copies are deep; an empty value takes
// no heap at all.

#include <compare>
#include <memory>
#include <utility>

namespace morvik::cord {

template <class T>
class Boxed {
 public:
  Boxed() noexcept = default;
  Boxed(T value) { set(std::move(value)); }
  template <class V = T>
  Boxed(std::initializer_list<typename V::value_type> items) : Boxed(T(items)) {}
  Boxed(const Boxed& other) { set(*other); }
  Boxed(Boxed&&) noexcept = default;
  Boxed& operator=(const Boxed& other) {
    if (this != &other) *this = Boxed(other);
    return *this;
  }
  Boxed& operator=(Boxed&&) noexcept = default;

  const T& operator*() const noexcept { return value_ ? *value_ : none(); }
  const T* operator->() const noexcept { return &**this; }
  // The value to change in place; boxed from here on.
  T& edit() {
    if (!value_) value_ = std::make_unique<T>();
    return *value_;
  }

  friend bool operator==(const Boxed& a, const Boxed& b) { return *a == *b; }
  friend auto operator<=>(const Boxed& a, const Boxed& b) { return *a <=> *b; }

 private:
  std::unique_ptr<T> value_;  // null while the value is empty

  static const T& none() noexcept {
    static const T none{};
    return none;
  }
  void set(T value) {
    if (value == T{}) return;
    value_ = std::make_unique<T>(std::move(value));
  }
};

}  // namespace morvik::cord
