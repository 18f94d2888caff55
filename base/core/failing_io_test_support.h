// Test support: makes pread() or close() of one file fail, as they do when
// the disk under a file gives an error (a close on a network file system
// reports a write that failed late) or a signal cuts a read short, so that
// the paths taken on a failed read or close are reached. Linked into test
// programs only: it replaces pread() and close() for the whole program.
#ifndef VT_BASE_CORE_FAILING_IO_TEST_SUPPORT_H_
#define VT_BASE_CORE_FAILING_IO_TEST_SUPPORT_H_

// The next `times` reads of a file whose path ends with `path_suffix` fail
// with `error` (and read nothing), or with error 0 come short (a third of
// the bytes asked for, at least one); reads of other files, and the ones
// after those, go through. A count of 0 makes none fail.
void vt_fail_pread_of(const char *path_suffix, int error, int times);

// How many reads vt_fail_pread_of has made fail since it was last called.
int vt_failed_preads();

// The next `times` closes of a file whose path ends with `path_suffix`
// release the descriptor, as every close does, but report `error`. A count
// of 0 makes none fail.
void vt_fail_close_of(const char *path_suffix, int error, int times);

// How many closes vt_fail_close_of has made fail since it was last called.
int vt_failed_closes();

#endif  // VT_BASE_CORE_FAILING_IO_TEST_SUPPORT_H_
