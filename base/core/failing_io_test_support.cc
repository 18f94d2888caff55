#include "base/core/failing_io_test_support.h"

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

namespace {

// Which file's calls fail, with what, and how many more.
struct Failing {
  std::mutex suffix_mutex;
  std::string suffix;
  std::atomic<int> error_to_give{0};
  std::atomic<int> failures_left{0};
  std::atomic<int> failed{0};
};

Failing preads, closes;

void arm(Failing *f, const char *path_suffix, int error, int times) {
  {
    std::lock_guard<std::mutex> lock(f->suffix_mutex);
    f->suffix = path_suffix;
  }
  f->failed = 0;
  f->error_to_give = error;
  f->failures_left = times < 0 ? 0 : times;
}

// Whether fd is a file whose path ends with the suffix asked for.
bool names_the_file(Failing *f, int fd) {
  char link[64], path[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path);
  if (n <= 0) return false;
  std::string_view p(path, static_cast<size_t>(n));
  std::lock_guard<std::mutex> lock(f->suffix_mutex);
  return p.size() >= f->suffix.size() && p.substr(p.size() - f->suffix.size()) == f->suffix;
}

// Whether this call on fd is to fail: one failure is taken from the count.
bool take_failure(Failing *f, int fd) {
  if (f->failures_left.load() <= 0 || !names_the_file(f, fd)) return false;
  int left = f->failures_left.load();
  while (left > 0 && !f->failures_left.compare_exchange_weak(left, left - 1)) {
  }
  if (left <= 0) return false;
  f->failed++;
  return true;
}

}  // namespace

void vt_fail_pread_of(const char *path_suffix, int error, int times) {
  arm(&preads, path_suffix, error, times);
}

int vt_failed_preads() {
  return preads.failed.load();
}

void vt_fail_close_of(const char *path_suffix, int error, int times) {
  arm(&closes, path_suffix, error, times);
}

int vt_failed_closes() {
  return closes.failed.load();
}

// Ours come before the C library's; the next one in the search order does the real work.
extern "C" ssize_t pread(int fd, void *buf, size_t count, off_t offset) {
  using PreadFn = ssize_t (*)(int, void *, size_t, off_t);
  static PreadFn real = reinterpret_cast<PreadFn>(dlsym(RTLD_NEXT, "pread"));
  if (take_failure(&preads, fd)) {
    if (preads.error_to_give.load() == 0)
      return real(fd, buf, count > 3 ? count / 3 : count, offset);
    errno = preads.error_to_give.load();
    return -1;
  }
  return real(fd, buf, count, offset);
}

extern "C" int close(int fd) {
  bool fail = take_failure(&closes, fd);
  using CloseFn = int (*)(int);
  static CloseFn real = reinterpret_cast<CloseFn>(dlsym(RTLD_NEXT, "close"));
  int r = real(fd);
  if (!fail) return r;
  errno = closes.error_to_give.load();
  return -1;
}
