#include "base/core/digest.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <thread>

namespace {

// Over a mebibyte in odd lengths, from a file and a pipe in short reads: the one-shot digest.
TEST(Digest, FileAndShortReads) {
  std::mt19937_64 rng(7);
  std::string data, hex, why;
  for (int i = 0; i < (1 << 20) + 12345; i++) data.push_back(static_cast<char>(rng()));
  DigestState s;
  vtlb_digest_init(&s);
  vtlb_digest_update(&s, data.data(), data.size());
  uint8_t d[kDigestSize];
  vtlb_digest_final(&s, d);
  uint64_t size = 0;
  char path[] = "/tmp/vtlb_digest.XXXXXX";
  int fd = mkstemp(path);
  ASSERT_TRUE(fd >= 0 && write(fd, data.data(), data.size()) == ssize_t(data.size()));
  close(fd);
  errno = EINTR;  // left over from before: the end of the file still ends the read
  ASSERT_TRUE(vtlb_digest_file(path, &hex, &size, &why)) << why;
  EXPECT_EQ(size, data.size());
  EXPECT_EQ(hex, vtlb_digest_hex(d));
  unlink(path);

  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  std::thread writer([&] {
    for (size_t at = 0; at < data.size(); at += 1000)
      if (write(pipe_fds[1], &data[at], std::min<size_t>(1000, data.size() - at)) < 0) break;
    close(pipe_fds[1]);
  });
  EXPECT_TRUE(vtlb_digest_fd(pipe_fds[0], &hex, &size, &why)) << why;
  writer.join();
  close(pipe_fds[0]);
  EXPECT_EQ(size, data.size());
  EXPECT_EQ(hex, vtlb_digest_hex(d));

  // Missing, a named pipe (refused, not waited on), a read that fails (memory from address 0).
  EXPECT_FALSE(vtlb_digest_file(path, &hex, &size, &why));
  EXPECT_EQ(errno, ENOENT);
  ASSERT_EQ(mkfifo(path, 0600), 0);
  EXPECT_FALSE(vtlb_digest_file(path, &hex, &size, &why));
  EXPECT_EQ(why, "a named pipe, not a regular file");
  unlink(path);
  EXPECT_FALSE(vtlb_digest_file("/proc/self/mem", &hex, &size, &why));
  EXPECT_EQ(why, "Input/output error");
  EXPECT_EQ(errno, EIO);
}

}  // namespace
