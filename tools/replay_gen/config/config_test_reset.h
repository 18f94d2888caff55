// Test support: puts back the run-wide state the configuration sets, and
// runs code that may end the run.
#ifndef VT_REPLAY_GEN_CONFIG_CONFIG_TEST_RESET_H_
#define VT_REPLAY_GEN_CONFIG_CONFIG_TEST_RESET_H_

#include <string>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

// A fresh run state: no configuration read, no flag set.
inline void reset_config_state() {
  run = RunState{};
}

// Applies one configuration line.
inline Outcome apply_line(std::string line) {
  return run_to_end([&] { apply_config_line(line.data()); });
}

#endif  // VT_REPLAY_GEN_CONFIG_CONFIG_TEST_RESET_H_
