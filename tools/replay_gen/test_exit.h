// For unit tests and fuzz cases only: an exit hook that turns the end of a
// run into an exception, so that one process can run many cases.
#ifndef VT_REPLAY_GEN_TEST_EXIT_H_
#define VT_REPLAY_GEN_TEST_EXIT_H_

#include "tools/replay_gen/fatal.h"

// What throw_on_vt_exit throws: the status the run would have ended with.
struct VtExit {
  int status;
};

[[noreturn]] inline void throw_on_vt_exit(int status) {
  throw VtExit{status};
}

#endif  // VT_REPLAY_GEN_TEST_EXIT_H_
