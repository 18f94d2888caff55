#include "base/core/input_file.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "base/core/decimal.h"
#include "base/core/open_descriptors_test_support.h"
#include "base/core/temp_dir_test_support.h"

namespace {

// Only a regular file (also through a link) is opened; no wait on a pipe, no read of a device.
TEST(OpenRegularFile, OpensOnlyRegularFilesAndNeverWaits) {
  VtTempDir dir;
  std::string file = dir.path + "/file", fifo = dir.path + "/fifo", link = dir.path + "/link";
  std::ofstream(file) << "abc";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
  struct Case {
    std::string path;
    int flags;
    const char *why;  // nullptr: opened
  } cases[] = {
      {file, O_RDONLY, nullptr},
      {link, O_RDONLY, nullptr},
      {fifo, O_RDONLY, "a named pipe, not a regular file"},
      {fifo, O_WRONLY | O_CREAT | O_TRUNC, "a named pipe, not a regular file"},
      {dir.path, O_RDONLY, "a directory, not a regular file"},
      {"/dev/zero", O_RDONLY, "a device, not a regular file"},
      {"/dev/null", O_WRONLY | O_TRUNC, "a device, not a regular file"},
      {dir.path + "/missing", O_RDONLY, "No such file or directory"},
      {dir.path + "/new", O_WRONLY | O_CREAT | O_TRUNC, nullptr},
  };
  for (const Case &c : cases) {
    std::string why;
    errno = 0;
    int fd = vtlb_open_regular_file(c.path.c_str(), c.flags, &why);
    if (!c.why) {
      EXPECT_GE(fd, 0) << c.path << ": " << why;
      EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << c.path;
      EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << c.path;
      close(fd);
    } else {
      EXPECT_EQ(fd, -1) << c.path;
      EXPECT_EQ(why, c.why) << c.path;
      EXPECT_NE(errno, 0) << c.path;
    }
  }
  std::string text, why;
  int lowest_free = dup(0);
  close(lowest_free);
  errno = EINTR;  // left over from before: the end of the file still ends the read
  EXPECT_TRUE(vtlb_read_regular_file(link, &text, &why)) << why;
  EXPECT_EQ(text, "abc");
  int after = dup(0);  // the read left no descriptor open
  EXPECT_EQ(after, lowest_free);
  close(after);
  EXPECT_FALSE(vtlb_read_regular_file(fifo, &text, &why));
  EXPECT_EQ(why, "a named pipe, not a regular file");
}

// A path swapped with a pipe while opened: a regular file or a refusal, never a pipe or a leak.
TEST(OpenRegularFile, AFileSwappedWhileOpenedIsLookedAtAgain) {
  VtTempDir dir;
  std::string path = dir.path + "/swapped", file = dir.path + "/file", fifo = dir.path + "/fifo";
  std::ofstream(file) << "";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const long descriptors = vt_open_descriptors();
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    std::string tmp = dir.path + "/tmp";
    for (int k = 0; !stop; k++) {
      if (link((k % 2 ? fifo : file).c_str(), tmp.c_str()) == 0) rename(tmp.c_str(), path.c_str());
    }
  });
  int opened = 0, refused = 0, wrong = 0;
  for (int i = 0; i < 200000 && (i < 20000 || opened == 0 || refused == 0); i++) {
    std::string why;
    int fd = vtlb_open_regular_file(path.c_str(), O_RDONLY, &why);
    if (fd < 0) {
      refused++;
      continue;
    }
    struct stat st;
    if (fd < 3 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) wrong++;
    opened++;
    if (fd >= 3) close(fd);
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(opened, 0);
  EXPECT_GT(refused, 0);
  EXPECT_EQ(vt_open_descriptors(), descriptors);  // a pipe opened by mistake is closed
}

// Numbers at the edge of 64 bits, leading zeros, and what is no number.
TEST(ReadU64, ReadsWholeNumbersAndTellsOverflow) {
  struct Case {
    std::string text;
    size_t digits;
    uint64_t value;
    bool too_big;
  } cases[] = {
      {"0", 1, 0, false},
      {"18446744073709551615,", 20, UINT64_MAX, false},
      {"18446744073709551616", 20, UINT64_MAX, true},
      {std::string(200, '0') + "42", 202, 42, false},
      {"123456789012345678901234567890", 30, UINT64_MAX, true},
      {"", 0, 0, false},
      {"-1", 0, 0, false},
      {"12a", 2, 12, false},
  };
  for (const Case &c : cases) {
    uint64_t v = 7;
    bool too_big = !c.too_big;
    EXPECT_EQ(vtlb_read_u64(c.text.data(), c.text.size(), &v, &too_big), c.digits) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(too_big, c.too_big) << c.text;
  }
}

}  // namespace
