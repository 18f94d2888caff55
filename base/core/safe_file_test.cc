#include "base/core/safe_file.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "base/core/failing_io_test_support.h"

namespace {

struct TempDir {
  std::string path;
  TempDir() {
    char templ[] = "/tmp/vtlb_safe_file.XXXXXX";
    path = mkdtemp(templ);
  }
  ~TempDir() { (void)!system(("rm -rf '" + path + "'").c_str()); }
};

TEST(CreateNewFile, RefusesWhatIsAlreadyThere) {
  TempDir dir;
  std::string target = dir.path + "/target", link = dir.path + "/link", fifo = dir.path + "/fifo",
              fresh = dir.path + "/fresh";
  int fd = open(target.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_TRUE(vtlb_write_all(fd, "keep", 4));
  close(fd);
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink((dir.path + "/dangling").c_str(), (dir.path + "/dangle").c_str()), 0);
  for (const std::string &p : {target, link, fifo, dir.path + "/dangle"}) {
    errno = 0;
    EXPECT_EQ(vtlb_create_new_file(p.c_str(), O_WRONLY, 0600), -1) << p;
    EXPECT_TRUE(errno == EEXIST || errno == ELOOP) << p << " " << errno;
  }
  struct stat st;
  EXPECT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 4);                                      // not truncated through the link
  EXPECT_NE(access((dir.path + "/dangling").c_str(), F_OK), 0);  // not made through it
  fd = vtlb_create_new_file(fresh.c_str(), O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_STREQ(vtlb_file_kind(link.c_str()), "a symbolic link");
  EXPECT_STREQ(vtlb_file_kind(fifo.c_str()), "a named pipe");
  EXPECT_STREQ(vtlb_file_kind(dir.path.c_str()), "a directory");
  EXPECT_STREQ(vtlb_file_kind(fresh.c_str()), "a regular file");
}

TEST(WriteAll, ReportsTheSystemError) {
  int fd = open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  errno = 0;
  EXPECT_FALSE(vtlb_write_all(fd, "abc", 3));
  EXPECT_EQ(errno, ENOSPC);
  close(fd);
  // A pipe takes a large buffer only in pieces: every byte still arrives.
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  std::string big(200000, 'x');
  pid_t child = fork();
  if (child == 0) {
    close(p[0]);
    _exit(vtlb_write_all(p[1], big.data(), big.size()) ? 0 : 1);
  }
  close(p[1]);
  size_t got = 0;
  char buf[4096];
  for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) got += static_cast<size_t>(n);
  close(p[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(got, big.size());
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A whole new file or none: one there is left alone, one cut short (file size limit) removed.
TEST(WriteNewFile, WholeOrNothing) {
  TempDir dir;
  std::string path = dir.path + "/out", error;
  ASSERT_TRUE(vtlb_write_new_file(path, "text\n", &error)) << error;
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 5);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0644u & ~mask);
  EXPECT_FALSE(vtlb_write_new_file(path, "other", &error));
  EXPECT_EQ(error, "cannot create " + path + ": File exists");
  EXPECT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 5);
  std::string big = dir.path + "/big";
  struct rlimit old_limit, small = {1000, 1000};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  small.rlim_max = old_limit.rlim_max;
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool written = vtlb_write_new_file(big, std::string(5000, 'x'), &error);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(written);
  EXPECT_EQ(error, "cannot write " + big + ": File too large");
  EXPECT_NE(access(big.c_str(), F_OK), 0);
  // A close that reports a late write error leaves nothing either.
  std::string late = dir.path + "/late";
  vt_fail_close_of("/late", EIO, 1);
  written = vtlb_write_new_file(late, "text\n", &error);
  vt_fail_close_of("", 0, 0);
  EXPECT_FALSE(written);
  EXPECT_EQ(error, "cannot write " + late + ": Input/output error");
  EXPECT_NE(access(late.c_str(), F_OK), 0);
}

}  // namespace
