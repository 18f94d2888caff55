// Test support: one malloc(), calloc() or realloc() that fails, as without memory to give.
// Linked into test programs only: it replaces the three (not under the sanitizers).
#ifndef VT_BASE_CORE_FAILING_ALLOC_TEST_SUPPORT_H_
#define VT_BASE_CORE_FAILING_ALLOC_TEST_SUPPORT_H_

#include <stddef.h>

// The next allocation of exactly `bytes` bytes fails with ENOMEM (0: none).
void vt_fail_alloc_of(size_t bytes);

// Whether vt_fail_alloc_of can make an allocation fail in this build.
bool vt_alloc_failures_supported();

#endif  // VT_BASE_CORE_FAILING_ALLOC_TEST_SUPPORT_H_
