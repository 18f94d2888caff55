// Test support: makes one malloc(), calloc() or realloc() of the test's own
// process fail, as it does when the system has no memory to give, so that
// the paths taken when memory cannot be had are reached. Linked into test
// programs only: it replaces those three for the whole program. The
// sanitizers keep their own allocator; under them nothing is replaced.
#ifndef VT_BASE_CORE_FAILING_ALLOC_TEST_SUPPORT_H_
#define VT_BASE_CORE_FAILING_ALLOC_TEST_SUPPORT_H_

#include <stddef.h>

// The next allocation of exactly `bytes` bytes (calloc's count times size)
// fails with ENOMEM; the ones after it go through again. 0 makes none fail.
void vt_fail_alloc_of(size_t bytes);

// Whether vt_fail_alloc_of can make an allocation fail in this build.
bool vt_alloc_failures_supported();

#endif  // VT_BASE_CORE_FAILING_ALLOC_TEST_SUPPORT_H_
