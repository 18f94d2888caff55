// Test support: one pthread_create() or pthread_join() that fails, as without a thread to spare.
// Linked into test programs only: it replaces both for the whole program.
#ifndef VT_BASE_CORE_FAILING_THREAD_TEST_SUPPORT_H_
#define VT_BASE_CORE_FAILING_THREAD_TEST_SUPPORT_H_

// After `succeeding` more starts the next fails with EAGAIN, then all go through (negative: none).
void vt_fail_thread_create_after(int succeeding);

// After `succeeding` more joins the next reports EINVAL, though the thread was joined.
void vt_fail_thread_join_after(int succeeding);

#endif  // VT_BASE_CORE_FAILING_THREAD_TEST_SUPPORT_H_
