// Test support shared by the unit tests: runs code that may end the run.
#ifndef VT_REPLAY_GEN_TEST_SUPPORT_H_
#define VT_REPLAY_GEN_TEST_SUPPORT_H_

#include <gtest/gtest.h>

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

#endif  // VT_REPLAY_GEN_TEST_SUPPORT_H_
