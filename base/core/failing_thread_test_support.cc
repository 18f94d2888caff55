#include "base/core/failing_thread_test_support.h"

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>

#include <atomic>

namespace {

std::atomic<int> starts_before_failure{-1};

}  // namespace

void vt_fail_thread_create_after(int succeeding) {
  starts_before_failure = succeeding < 0 ? -1 : succeeding;
}

// The program's own definition comes before the C library's; the next one in
// the search order does the real work.
extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attr,
                              void *(*start)(void *), void *arg) noexcept {
  int left = starts_before_failure.load();
  if (left == 0) {
    starts_before_failure = -1;
    return EAGAIN;
  }
  if (left > 0) starts_before_failure = left - 1;
  using CreateFn = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
  static CreateFn real = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
  return real(thread, attr, start, arg);
}
