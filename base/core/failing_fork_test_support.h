// Test support: makes one fork() of the test's own process fail, as it does
// when the system has no process to spare, so that the paths taken when a
// command cannot be started are reached. Linked into test programs only: it
// replaces fork() for the whole program.
#ifndef VT_BASE_CORE_FAILING_FORK_TEST_SUPPORT_H_
#define VT_BASE_CORE_FAILING_FORK_TEST_SUPPORT_H_

// After `succeeding` more forks go through, the next one fails with EAGAIN;
// the ones after it go through again. A negative count makes none fail.
void vt_fail_fork_after(int succeeding);

#endif  // VT_BASE_CORE_FAILING_FORK_TEST_SUPPORT_H_
