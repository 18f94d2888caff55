// Test support: pread() or close() of one file fails, as on a disk error, a late write error
// or a read a signal cut short. Linked into test programs only: it replaces both.
#ifndef VT_BASE_CORE_FAILING_IO_TEST_SUPPORT_H_
#define VT_BASE_CORE_FAILING_IO_TEST_SUPPORT_H_

// The next `times` reads of a file whose path ends with `path_suffix` fail with `error`, or with
// error 0 come short (a third of the bytes, at least one). 0 times: none.
void vt_fail_pread_of(const char *path_suffix, int error, int times);
// The next `times` closes of such a file release the descriptor but report `error`.
void vt_fail_close_of(const char *path_suffix, int error, int times);

// How many reads (closes) failed since vt_fail_pread_of (vt_fail_close_of) was called.
int vt_failed_preads();
int vt_failed_closes();

#endif  // VT_BASE_CORE_FAILING_IO_TEST_SUPPORT_H_
