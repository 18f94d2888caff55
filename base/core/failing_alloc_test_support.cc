#include "base/core/failing_alloc_test_support.h"

#include <errno.h>

#include <atomic>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VT_KEEP_ALLOCATOR 1  // the sanitizers keep their own allocator
#else
#define VT_KEEP_ALLOCATOR 0
#endif

namespace {

std::atomic<size_t> failing_size{0};

// True once for an allocation of the armed size.
[[maybe_unused]] bool should_fail(size_t bytes) {
  size_t armed = failing_size.load(std::memory_order_relaxed);
  if (armed == 0 || bytes != armed) return false;
  if (!failing_size.compare_exchange_strong(armed, 0)) return false;
  errno = ENOMEM;
  return true;
}

}  // namespace

void vt_fail_alloc_of(size_t bytes) {
  failing_size = bytes;
}

bool vt_alloc_failures_supported() {
  return !VT_KEEP_ALLOCATOR;
}

#if !VT_KEEP_ALLOCATOR
// Ours come before the C library's, whose own entry points do the real work.
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);

void *malloc(size_t bytes) noexcept {
  return should_fail(bytes) ? nullptr : __libc_malloc(bytes);
}

void *calloc(size_t count, size_t size) noexcept {
  size_t bytes;
  if (!__builtin_mul_overflow(count, size, &bytes) && should_fail(bytes)) return nullptr;
  return __libc_calloc(count, size);
}

void *realloc(void *p, size_t bytes) noexcept {
  return should_fail(bytes) ? nullptr : __libc_realloc(p, bytes);
}
}
#endif
