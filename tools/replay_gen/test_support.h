// Test support shared by the unit tests: runs code that may fail, as the driver reports it.
#ifndef VT_REPLAY_GEN_TEST_SUPPORT_H_
#define VT_REPLAY_GEN_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "base/core/temp_dir_test_support.h"
#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_files.h"

// How a call ended: its exit status (0 when it succeeded) and what it wrote on standard error.
struct Outcome {
  int status;
  std::string err;
  std::string text() const { return std::to_string(status) + err; }
};

// fn takes the Failure to fill and returns false when it failed.
template <typename Fn>
Outcome run_to_end(Fn fn) {
  testing::internal::CaptureStderr();
  Failure f;
  bool ok = fn(&f);
  if (!ok) write_failure(LogGates{}, f);
  fflush(stderr);
  std::string err = testing::internal::GetCapturedStderr();
  return {ok ? 0 : (f.status ? f.status : -1), err};
}

// Makes run a fresh value, for a test that goes through several runs.
inline void fresh_run(RunState &run) {
  run.~RunState();
  new (&run) RunState();
}

// run_to_end with files limited to limit bytes, as a full disk: writes fail with EFBIG.
template <typename Fn>
Outcome run_with_file_size_limit(rlim_t limit, Fn fn) {
  return vt_with_file_size_limit(limit, [&] { return run_to_end(fn); });
}

#endif  // VT_REPLAY_GEN_TEST_SUPPORT_H_
