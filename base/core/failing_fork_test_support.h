// Test support: makes one fork() of the test's own process fail, as it does
// when the system has no process to spare, so that the paths taken when a
// command cannot be started are reached; or lets the child run first. Linked into test programs
// only: it replaces fork() for the whole program.
#ifndef VT_BASE_CORE_FAILING_FORK_TEST_SUPPORT_H_
#define VT_BASE_CORE_FAILING_FORK_TEST_SUPPORT_H_

// After `succeeding` more forks go through, the next one fails with EAGAIN;
// the ones after it go through again. A negative count makes none fail.
void vt_fail_fork_after(int succeeding);

// The parent of every fork that goes through waits `ms` milliseconds before
// it goes on, so that the child runs first (0: no wait).
void vt_slow_fork_parent(int ms);

#endif  // VT_BASE_CORE_FAILING_FORK_TEST_SUPPORT_H_
