// Test support shared by the unit tests: runs code that may end the run.
#ifndef VT_REPLAY_GEN_TEST_SUPPORT_H_
#define VT_REPLAY_GEN_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <string>

#include "tools/replay_gen/test_exit.h"

// How a call ended: its vt_exit status (0 when it returned) and its stderr.
struct Outcome {
  int status;
  std::string err;
};

template <typename Fn>
Outcome run_to_end(Fn fn) {
  set_vt_exit_hook(throw_on_vt_exit);
  testing::internal::CaptureStderr();
  int status = 0;
  try {
    fn();
  } catch (const VtExit &e) {
    status = e.status;
  }
  std::string err = testing::internal::GetCapturedStderr();
  set_vt_exit_hook(nullptr);
  return {status, err};
}

// run_to_end with files limited to limit bytes, the way a full disk limits
// them: writes past it fail with EFBIG instead of raising SIGXFSZ.
template <typename Fn>
Outcome run_with_file_size_limit(rlim_t limit, Fn fn) {
  struct rlimit old_limit;
  EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit small = {limit, old_limit.rlim_max};
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Outcome o = run_to_end(fn);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  return o;
}

#endif  // VT_REPLAY_GEN_TEST_SUPPORT_H_
