// Measures what the request files' digests cost: each candidate digest's
// speed on bytes already in the processor's caches, and the ways a writer
// could copy a large body from the input file to the request file while
// hashing it. Built and run by bench/digest_choice.sh; not part of the build.
//
//   digest_choice SOURCE DEST_DIR
//
// SOURCE is a large file already in the page cache (the input logs'
// stand-in); each way writes a copy of it to DEST_DIR, removed after.
#include <fcntl.h>
#include <openssl/evp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

double now_s(clockid_t clock = CLOCK_MONOTONIC) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// One digest behind three calls.
struct Digest {
  const char *name;
  void (*init)(void *state);
  void (*update)(void *state, const void *data, size_t len);
  void (*final)(void *state);
};

EVP_MD_CTX *g_evp;
XXH3_state_t *g_xxh;

void sha_init(void *) {
  EVP_DigestInit_ex(g_evp, EVP_sha256(), nullptr);
}
void sha_update(void *, const void *d, size_t n) {
  EVP_DigestUpdate(g_evp, d, n);
}
void sha_final(void *) {
  unsigned char md[32];
  unsigned int len = 0;
  EVP_DigestFinal_ex(g_evp, md, &len);
}
void xxh_init(void *) {
  XXH3_128bits_reset(g_xxh);
}
void xxh_update(void *, const void *d, size_t n) {
  XXH3_128bits_update(g_xxh, d, n);
}
void xxh_final(void *) {
  (void)XXH3_128bits_digest(g_xxh);
}
void none_init(void *) {}
void none_update(void *, const void *, size_t) {}
void none_final(void *) {}

const Digest kDigests[] = {{"none", none_init, none_update, none_final},
                           {"sha256", sha_init, sha_update, sha_final},
                           {"xxh3-128", xxh_init, xxh_update, xxh_final}};

// GB/s of hashing a block of `size` bytes `rounds` times, in the thread's
// processor time: what other work on the machine takes does not count.
double digest_speed(const Digest &d, size_t size, int rounds) {
  std::vector<char> block(size, 'x');
  d.init(nullptr);
  double start = now_s(CLOCK_THREAD_CPUTIME_ID);
  for (int i = 0; i < rounds; i++) d.update(nullptr, block.data(), size);
  d.final(nullptr);
  return static_cast<double>(size) * rounds / (now_s(CLOCK_THREAD_CPUTIME_ID) - start) / 1e9;
}

// A way of copying from `in` to `out`, `size` bytes, hashing on the way.
enum Way { kSendfile, kSendfileThenPread, kPreadWrite };

bool copy(Way way, const Digest &d, int in, int out, off_t size, size_t chunk, char *buf) {
  d.init(nullptr);
  off_t at = 0;
  while (at < size) {
    size_t n = static_cast<size_t>(std::min<off_t>(size - at, static_cast<off_t>(chunk)));
    if (way == kSendfile || way == kSendfileThenPread) {
      if (way == kSendfileThenPread) {
        if (pread(in, buf, n, at) != static_cast<ssize_t>(n)) return false;
        d.update(nullptr, buf, n);
      }
      off_t from = at;
      if (sendfile(out, in, &from, n) != static_cast<ssize_t>(n)) return false;
    } else {
      if (pread(in, buf, n, at) != static_cast<ssize_t>(n)) return false;
      d.update(nullptr, buf, n);
      if (write(out, buf, n) != static_cast<ssize_t>(n)) return false;
    }
    at += static_cast<off_t>(n);
  }
  d.final(nullptr);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s SOURCE DEST_DIR\n", argv[0]);
    return 2;
  }
  g_evp = EVP_MD_CTX_new();
  g_xxh = XXH3_createState();

  printf("digest speed, one thread, bytes in cache (GB/s of processor time):\n");
  printf("%-10s %10s %10s %10s\n", "digest", "4 KiB", "64 KiB", "1 MiB");
  for (const Digest &d : kDigests) {
    if (!strcmp(d.name, "none")) continue;
    printf("%-10s %10.2f %10.2f %10.2f\n", d.name, digest_speed(d, 4096, 200000),
           digest_speed(d, 65536, 20000), digest_speed(d, 1 << 20, 1000));
  }

  int in = open(argv[1], O_RDONLY | O_NOFOLLOW);
  struct stat st;
  if (in < 0 || fstat(in, &st) != 0) {
    perror(argv[1]);
    return 1;
  }
  std::string dest = std::string(argv[2]) + "/digest_choice.copy";
  std::vector<char> buf(4 << 20);
  struct Case {
    const char *name;
    Way way;
    size_t chunk;
  };
  const Case kCases[] = {{"sendfile 1 MiB", kSendfile, 1 << 20},
                         {"sendfile + pread 1 MiB", kSendfileThenPread, 1 << 20},
                         {"pread/write 64 KiB", kPreadWrite, 64 << 10},
                         {"pread/write 256 KiB", kPreadWrite, 256 << 10},
                         {"pread/write 1 MiB", kPreadWrite, 1 << 20}};
  // Rounds go over every way in turn, so that a slow spell of the machine
  // falls on all of them; each figure is the median of its rounds.
  const int kRounds = 5;
  const size_t kWays = sizeof kCases / sizeof kCases[0],
               kNames = sizeof kDigests / sizeof kDigests[0];
  std::vector<double> walls[kWays][kNames];
  for (int round = 0; round < kRounds; round++) {
    for (size_t c = 0; c < kWays; c++) {
      for (size_t d = 0; d < kNames; d++) {
        if (kCases[c].way == kSendfile && d) continue;
        int out = open(dest.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
        if (out < 0) {
          perror(dest.c_str());
          return 1;
        }
        double start = now_s();
        bool ok =
            copy(kCases[c].way, kDigests[d], in, out, st.st_size, kCases[c].chunk, buf.data());
        ok = fdatasync(out) == 0 && ok;
        walls[c][d].push_back(now_s() - start);
        ok = close(out) == 0 && ok;
        unlink(dest.c_str());
        if (!ok) {
          perror("copy");
          return 1;
        }
      }
    }
  }
  printf("\ncopy of %.0f MB to %s, hashing on the way: wall s (GB/s), median of %d\n",
         st.st_size / 1e6, argv[2], kRounds);
  printf("%-24s", "way");
  for (const Digest &d : kDigests) printf(" %16s", d.name);
  printf("\n");
  for (size_t c = 0; c < kWays; c++) {
    printf("%-24s", kCases[c].name);
    for (size_t d = 0; d < kNames; d++) {
      std::vector<double> &w = walls[c][d];
      if (w.empty()) {
        printf(" %16s", "-");
        continue;
      }
      std::sort(w.begin(), w.end());
      double wall = w[w.size() / 2];
      printf(" %8.3f (%5.2f)", wall, st.st_size / wall / 1e9);
    }
    printf("\n");
  }
  return 0;
}
