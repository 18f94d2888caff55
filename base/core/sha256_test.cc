#include "base/core/sha256.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>

namespace {

std::string digest_of(const std::string &data, size_t piece) {
  Sha256State s;
  vtlb_sha256_init(&s);
  for (size_t at = 0; at < data.size(); at += piece)
    vtlb_sha256_update(&s, data.data() + at, std::min(piece, data.size() - at));
  uint8_t d[kSha256Size];
  vtlb_sha256_final(&s, d);
  return vtlb_sha256_hex(d);
}

// Restores the processor's choice after a test that forced one way.
struct BothWays {
  bool before = vtlb_sha256_uses_cpu();
  ~BothWays() { vtlb_sha256_use_cpu(before); }
};

// The test vectors of the standard (FIPS 180-4 examples, and the lengths
// around one and two blocks of padding), fed whole, byte by byte and in
// pieces that straddle block ends, with and without the SHA instructions.
TEST(Sha256, KnownVectors) {
  struct Case {
    std::string data;
    const char *hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
       "opqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
  };
  BothWays restore;
  for (bool cpu : {false, true}) {
    vtlb_sha256_use_cpu(cpu);
    for (const Case &c : cases) {
      for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{100}, size_t{1} << 20}) {
        if (piece == 1 && c.data.size() > 1000) continue;
        EXPECT_EQ(digest_of(c.data, piece), c.hex)
            << c.data.size() << " bytes in pieces of " << piece << (cpu ? " (cpu)" : "");
      }
    }
  }
}

// Where the processor has the SHA instructions, they agree with the plain
// code on every length from 0 to 300 and on large random inputs.
TEST(Sha256, ProcessorAndPlainAgree) {
  BothWays restore;
  vtlb_sha256_use_cpu(true);
  if (!vtlb_sha256_uses_cpu()) GTEST_SKIP() << "no SHA instructions here";
  std::mt19937_64 rng(7);
  std::string data;
  for (int i = 0; i < 200000; i++) data.push_back(static_cast<char>(rng()));
  for (size_t len = 0; len <= 300; len++) {
    std::string part = data.substr(0, len);
    vtlb_sha256_use_cpu(true);
    std::string fast = digest_of(part, 37);
    vtlb_sha256_use_cpu(false);
    EXPECT_EQ(fast, digest_of(part, 37)) << len;
  }
  vtlb_sha256_use_cpu(true);
  std::string fast = digest_of(data, 4096);
  vtlb_sha256_use_cpu(false);
  EXPECT_EQ(fast, digest_of(data, 4096));
}

TEST(Sha256, File) {
  char path[] = "/tmp/vtlb_sha256.XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string data(300000, 'x');
  ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  close(fd);
  std::string hex, why;
  uint64_t size = 0;
  errno = EINTR;  // left over from before: the end of the file still ends the read
  ASSERT_TRUE(vtlb_sha256_file(path, &hex, &size, &why)) << why;
  EXPECT_EQ(size, data.size());
  EXPECT_EQ(hex, digest_of(data, data.size()));
  unlink(path);
  EXPECT_FALSE(vtlb_sha256_file(path, &hex, &size, &why));
  EXPECT_EQ(errno, ENOENT);
  // A named pipe is refused, not waited on.
  ASSERT_EQ(mkfifo(path, 0600), 0);
  EXPECT_FALSE(vtlb_sha256_file(path, &hex, &size, &why));
  EXPECT_EQ(why, "a named pipe, not a regular file");
  unlink(path);
  // A regular file whose read fails: this process's memory from address 0.
  EXPECT_FALSE(vtlb_sha256_file("/proc/self/mem", &hex, &size, &why));
  EXPECT_EQ(why, "Input/output error");
  EXPECT_EQ(errno, EIO);
}

}  // namespace
