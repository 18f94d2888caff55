// Test support: a fresh directory under /tmp, removed with all it holds; and a call made with
// files limited in size, as a full disk limits them (EFBIG instead of SIGXFSZ).
#ifndef VT_BASE_CORE_TEMP_DIR_TEST_SUPPORT_H_
#define VT_BASE_CORE_TEMP_DIR_TEST_SUPPORT_H_

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>

struct VtTempDir {
  std::string path;
  VtTempDir() {
    char templ[] = "/tmp/vt_test.XXXXXX";
    path = mkdtemp(templ);
  }
  ~VtTempDir() { std::filesystem::remove_all(path); }
};

template <typename Fn>
auto vt_with_file_size_limit(rlim_t bytes, Fn fn) {
  struct rlimit old_limit;
  getrlimit(RLIMIT_FSIZE, &old_limit);
  struct rlimit small = {bytes, old_limit.rlim_max};
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  auto result = fn();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  return result;
}

#endif  // VT_BASE_CORE_TEMP_DIR_TEST_SUPPORT_H_
