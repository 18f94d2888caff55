// Test support: one fork() that fails, as without a process to spare, or a child that runs
// first. Linked into test programs only: it replaces fork() for the whole program.
#ifndef VT_BASE_CORE_FAILING_FORK_TEST_SUPPORT_H_
#define VT_BASE_CORE_FAILING_FORK_TEST_SUPPORT_H_

// After `succeeding` more forks the next fails with EAGAIN, then all go through (negative: none).
void vt_fail_fork_after(int succeeding);

// The parent of every fork waits `ms` milliseconds, so that the child runs first (0: no wait).
void vt_slow_fork_parent(int ms);

#endif  // VT_BASE_CORE_FAILING_FORK_TEST_SUPPORT_H_
