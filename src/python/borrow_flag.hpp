#pragma once

// Shared and exclusive borrows of one Python object. An operation holds a
// shared borrow for its whole length, the interpreter lock released in
// between; `__enter__` holds an exclusive one while it runs, which conflicts
// with any other borrow. The flag is read and changed only with the
// interpreter lock held.

#include <optional>
#include <utility>

#include "python/py_ref.hpp"

namespace morvik::python {

class BorrowFlag {
 public:
  // Gives its borrow back when it goes.
  class Borrow {
   public:
    Borrow(Borrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)), delta_(other.delta_) {}
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    Borrow& operator=(Borrow&&) = delete;
    ~Borrow() {
      if (flag_) flag_->state_ -= delta_;
    }

   private:
    friend class BorrowFlag;
    Borrow(BorrowFlag& flag, int delta) : flag_(&flag), delta_(delta) { flag_->state_ += delta_; }
    BorrowFlag* flag_;
    int delta_;
  };

  // Nothing, with RuntimeError "Already mutably borrowed" set, while the
  // object is borrowed exclusively.
  std::optional<Borrow> borrow_shared() {
    if (state_ < 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return std::nullopt;
    }
    return Borrow(*this, 1);
  }

  // Nothing, with RuntimeError "Already borrowed" set, while any borrow is
  // held.
  std::optional<Borrow> borrow_exclusive() {
    if (state_ != 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      return std::nullopt;
    }
    return Borrow(*this, -1);
  }

 private:
  // The count of shared borrows, or -1 while borrowed exclusively.
  int state_ = 0;
};

}  // namespace morvik::python
