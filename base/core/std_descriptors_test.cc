#include "base/core/std_descriptors.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// In a child with only 0..2 open, closes `closed` and calls the helper; faults: 1 it failed, 2 a
// closed one is not /dev/null (or an open one changed), 4 the next open does not get 3.
int child_faults(const std::vector<int> &closed) {
  pid_t pid = fork();
  if (pid == 0) {
    for (int fd = 3; fd < 1024; fd++) close(fd);
    struct stat null_st, before[3];
    stat("/dev/null", &null_st);
    for (int fd = 0; fd <= 2; fd++) fstat(fd, &before[fd]);
    for (int fd : closed) close(fd);
    int faults = vtlb_open_std_descriptors() ? 0 : 1;
    for (int fd = 0; fd <= 2; fd++) {
      bool was_closed = false;
      for (int c : closed) was_closed = was_closed || c == fd;
      struct stat st;
      if (fstat(fd, &st) != 0) {
        faults |= 2;
      } else if (was_closed ? st.st_rdev != null_st.st_rdev || !S_ISCHR(st.st_mode)
                            : st.st_ino != before[fd].st_ino || st.st_dev != before[fd].st_dev) {
        faults |= 2;
      }
    }
    int next = open("/dev/null", O_RDONLY);
    if (next != 3) faults |= 4;
    _exit(faults);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

TEST(OpenStdDescriptors, FillsEveryClosedOneWithDevNull) {
  const std::vector<int> cases[] = {{}, {0}, {1}, {2}, {0, 1}, {1, 2}, {0, 2}, {0, 1, 2}};
  for (const std::vector<int> &closed : cases) {
    std::string what;
    for (int fd : closed) what += std::to_string(fd) + " ";
    EXPECT_EQ(child_faults(closed), 0) << "closed: " << what;
  }
}

}  // namespace
