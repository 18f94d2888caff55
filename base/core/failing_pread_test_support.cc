#include "base/core/failing_pread_test_support.h"

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

std::mutex suffix_mutex;
std::string suffix;
std::atomic<int> error_to_give{0};
std::atomic<int> failures_left{0};
std::atomic<int> failed{0};

// Whether fd is a file whose path ends with the suffix asked for.
bool names_the_file(int fd) {
  char link[64], path[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path);
  if (n <= 0) return false;
  std::string_view p(path, static_cast<size_t>(n));
  std::lock_guard<std::mutex> lock(suffix_mutex);
  return p.size() >= suffix.size() && p.substr(p.size() - suffix.size()) == suffix;
}

// Takes one failure from the count, if one is left.
bool take_failure() {
  int left = failures_left.load();
  while (left > 0 && !failures_left.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}

}  // namespace

void vt_fail_pread_of(const char *path_suffix, int error, int times) {
  {
    std::lock_guard<std::mutex> lock(suffix_mutex);
    suffix = path_suffix;
  }
  failed = 0;
  error_to_give = error;
  failures_left = times < 0 ? 0 : times;
}

int vt_failed_preads() { return failed.load(); }

// The program's own definition comes before the C library's; the next one in
// the search order does the real work.
extern "C" ssize_t pread(int fd, void *buf, size_t count, off_t offset) {
  if (failures_left.load() > 0 && names_the_file(fd) && take_failure()) {
    failed++;
    errno = error_to_give.load();
    return -1;
  }
  using PreadFn = ssize_t (*)(int, void *, size_t, off_t);
  static PreadFn real = reinterpret_cast<PreadFn>(dlsym(RTLD_NEXT, "pread"));
  return real(fd, buf, count, offset);
}
