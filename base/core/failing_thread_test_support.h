// Test support: makes one pthread_create() of the test's own process fail,
// as it does when the system has no thread to spare, or one pthread_join(),
// so that the paths taken when a thread cannot be started or joined are
// reached. Linked into test programs only: it replaces pthread_create() and
// pthread_join() for the whole program.
#ifndef VT_BASE_CORE_FAILING_THREAD_TEST_SUPPORT_H_
#define VT_BASE_CORE_FAILING_THREAD_TEST_SUPPORT_H_

// After `succeeding` more threads are started, the next start fails with
// EAGAIN; the ones after it go through again. A negative count makes none
// fail.
void vt_fail_thread_create_after(int succeeding);

// After `succeeding` more threads are joined, the next join reports EINVAL,
// though the thread was joined (so that nothing is left running); the ones
// after it go through again. A negative count makes none fail.
void vt_fail_thread_join_after(int succeeding);

#endif  // VT_BASE_CORE_FAILING_THREAD_TEST_SUPPORT_H_
