// Test support: one posix_spawn() that fails, as without a process to spare. Linked into test
// programs only: it replaces posix_spawn() for the whole program.
#ifndef VT_BASE_CORE_FAILING_SPAWN_TEST_SUPPORT_H_
#define VT_BASE_CORE_FAILING_SPAWN_TEST_SUPPORT_H_

// After `succeeding` more spawns the next fails with EAGAIN, then all go through (negative: none).
void vt_fail_spawn_after(int succeeding);

#endif  // VT_BASE_CORE_FAILING_SPAWN_TEST_SUPPORT_H_
