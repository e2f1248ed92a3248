#include "support/store/lock_holder.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace morvik::store::testing {

LockHolder::LockHolder(std::function<bool()> take, int hold_ms) {
  int ready[2];
  if (::pipe(ready) != 0) return;
  child_ = ::fork();
  if (child_ == 0) {
    ::close(ready[0]);
    const char taken = take() ? 1 : 0;
    (void)!::write(ready[1], &taken, 1);
    if (taken) {
      if (hold_ms > 0) {
        ::usleep(static_cast<useconds_t>(hold_ms) * 1000);
      } else {
        ::pause();
      }
    }
    // Exit without running the parent's destructors; the lock goes with us.
    ::_exit(0);
  }
  ::close(ready[1]);
  char taken = 0;
  holding_ = child_ > 0 && ::read(ready[0], &taken, 1) == 1 && taken == 1;
  ::close(ready[0]);
}

void LockHolder::release() {
  if (child_ > 0) {
    // The operating system drops the child's locks with it.
    ::kill(child_, SIGKILL);
    int status = 0;
    ::waitpid(child_, &status, 0);
    child_ = -1;
  }
}

LockHolder::~LockHolder() { release(); }

}  // namespace morvik::store::testing
