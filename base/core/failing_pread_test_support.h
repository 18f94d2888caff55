// Test support: makes pread() of one file fail, as it does when the disk
// under a request file gives an error or a signal cuts a read short, so that
// the paths taken on a failed read are reached. Linked into test programs
// only: it replaces pread() for the whole program.
#ifndef VT_BASE_CORE_FAILING_PREAD_TEST_SUPPORT_H_
#define VT_BASE_CORE_FAILING_PREAD_TEST_SUPPORT_H_

// The next `times` reads of a file whose path ends with `path_suffix` fail
// with `error` (and read nothing); reads of other files, and the ones after
// those, go through. A count of 0 makes none fail.
void vt_fail_pread_of(const char *path_suffix, int error, int times);

// How many reads vt_fail_pread_of has made fail since it was last called.
int vt_failed_preads();

#endif  // VT_BASE_CORE_FAILING_PREAD_TEST_SUPPORT_H_
