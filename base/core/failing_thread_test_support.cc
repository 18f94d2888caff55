#include "base/core/failing_thread_test_support.h"

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>

#include <atomic>

namespace {

std::atomic<int> starts_before_failure{-1};
std::atomic<int> joins_before_failure{-1};

// True when the call that `left` counts down for is to fail.
bool count_down(std::atomic<int> *left) {
  int n = left->load();
  if (n == 0) {
    *left = -1;
    return true;
  }
  if (n > 0) *left = n - 1;
  return false;
}

}  // namespace

void vt_fail_thread_create_after(int succeeding) {
  starts_before_failure = succeeding < 0 ? -1 : succeeding;
}

void vt_fail_thread_join_after(int succeeding) {
  joins_before_failure = succeeding < 0 ? -1 : succeeding;
}

// Ours comes before the C library's; the next one in the search order does the real work.
extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *),
                              void *arg) noexcept {
  if (count_down(&starts_before_failure)) return EAGAIN;
  using CreateFn = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
  static CreateFn real = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
  return real(thread, attr, start, arg);
}

extern "C" int pthread_join(pthread_t thread, void **result) {
  using JoinFn = int (*)(pthread_t, void **);
  static JoinFn real = reinterpret_cast<JoinFn>(dlsym(RTLD_NEXT, "pthread_join"));
  int status = real(thread, result);
  return status == 0 && count_down(&joins_before_failure) ? EINVAL : status;
}
