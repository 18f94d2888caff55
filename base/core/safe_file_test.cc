#include "base/core/safe_file.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

#include "base/core/failing_io_test_support.h"
#include "base/core/temp_dir_test_support.h"

namespace {

TEST(CreateNewFile, RefusesWhatIsAlreadyThere) {
  VtTempDir dir;
  std::string target = dir.path + "/target", link = dir.path + "/link", fifo = dir.path + "/fifo",
              fresh = dir.path + "/fresh";
  std::ofstream(target) << "keep";
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
  int fd = vtlb_create_new_file(fresh.c_str(), O_WRONLY, 0600);
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
  bool written = false;
  std::thread writer([&] { written = vtlb_write_all(p[1], big.data(), big.size()), close(p[1]); });
  size_t got = 0;
  char buf[4096];
  for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) got += static_cast<size_t>(n);
  writer.join();
  close(p[0]);
  EXPECT_EQ(got, big.size());
  EXPECT_TRUE(written);
}

// A whole new file or none: one there is left alone, one cut short (file size limit) removed.
TEST(WriteNewFile, WholeOrNothing) {
  VtTempDir dir;
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
  bool written = vt_with_file_size_limit(
      1000, [&] { return vtlb_write_new_file(big, std::string(5000, 'x'), &error); });
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
