// The one way the tool ends a run early: the driver writes the failure that
// came back from the stage list and ends the process with its status.
#ifndef VT_REPLAY_GEN_FATAL_H_
#define VT_REPLAY_GEN_FATAL_H_

#include "tools/replay_gen/failure.h"

// Writes the failure and ends the process with its status (-1 shows as 255).
// Before that it removes what the run made for itself (the spill directory,
// the script generator input file) and flushes every stdio stream; static
// destructors are not run.
[[noreturn]] void exit_on_failure(const LogGates &log, const Failure &f);

// A function the end of a failed run calls first, to remove what the run
// made for itself (the spill directory); null for none.
using vt_exit_cleanup_fn = void (*)();
void set_vt_exit_cleanup(vt_exit_cleanup_fn cleanup);

#endif  // VT_REPLAY_GEN_FATAL_H_
