#include "base/core/failing_fork_test_support.h"

#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<int> forks_before_failure{-1};

}  // namespace

void vt_fail_fork_after(int succeeding) {
  forks_before_failure = succeeding < 0 ? -1 : succeeding;
}

// The program's own definition comes before the C library's; the next one in
// the search order does the real work.
extern "C" pid_t fork() noexcept {
  int left = forks_before_failure.load();
  if (left == 0) {
    forks_before_failure = -1;
    errno = EAGAIN;
    return -1;
  }
  if (left > 0) forks_before_failure = left - 1;
  using ForkFn = pid_t (*)();
  static ForkFn real = reinterpret_cast<ForkFn>(dlsym(RTLD_NEXT, "fork"));
  return real();
}
