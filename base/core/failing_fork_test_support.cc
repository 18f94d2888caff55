#include "base/core/failing_fork_test_support.h"

#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<int> forks_before_failure{-1};
std::atomic<int> parent_wait_ms{0};

}  // namespace

void vt_fail_fork_after(int succeeding) {
  forks_before_failure = succeeding < 0 ? -1 : succeeding;
}

void vt_slow_fork_parent(int ms) {
  parent_wait_ms = ms < 0 ? 0 : ms;
}

// Ours comes before the C library's; the next one in the search order does the real work.
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
  pid_t pid = real();
  int wait_ms = parent_wait_ms.load();
  if (pid > 0 && wait_ms > 0) usleep(static_cast<useconds_t>(wait_ms) * 1000);
  return pid;
}
