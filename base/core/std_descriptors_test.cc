#include "base/core/std_descriptors.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// In a child with only 0..2 open, closes those in the mask `closed` and calls the helper; faults:
// 1 it failed, 2 a closed one is not /dev/null (or an open one changed), 4 the next open is not 3.
int child_faults(int closed) {
  pid_t pid = fork();
  if (pid == 0) {
    for (int fd = 3; fd < 1024; fd++) close(fd);
    struct stat null_st, before[3], st;
    stat("/dev/null", &null_st);
    for (int fd = 0; fd <= 2; fd++) fstat(fd, &before[fd]);
    for (int fd = 0; fd <= 2; fd++)
      if (closed & (1 << fd)) close(fd);
    int faults = vtlb_open_std_descriptors() ? 0 : 1;
    for (int fd = 0; fd <= 2; fd++)
      if (fstat(fd, &st) != 0 ||
          ((closed & (1 << fd)) ? st.st_rdev != null_st.st_rdev || !S_ISCHR(st.st_mode)
                                : st.st_ino != before[fd].st_ino || st.st_dev != before[fd].st_dev))
        faults |= 2;
    if (open("/dev/null", O_RDONLY) != 3) faults |= 4;
    _exit(faults);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

TEST(OpenStdDescriptors, FillsEveryClosedOneWithDevNull) {
  for (int closed = 0; closed < 8; closed++)
    EXPECT_EQ(child_faults(closed), 0) << "closed: mask " << closed << " of 0, 1, 2";
}

}  // namespace
