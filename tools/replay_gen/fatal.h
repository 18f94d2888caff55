// The one way the tool ends a run early: the driver writes the failure that
// came back from the stage list and ends the process with its status.
#ifndef VT_REPLAY_GEN_FATAL_H_
#define VT_REPLAY_GEN_FATAL_H_

#include "tools/replay_gen/failure.h"

// Writes the failure and ends the process with its status (-1 shows as 255).
// Before that it removes the script generator input file (the stage list has
// removed the spill directory) and flushes every stdio stream; static
// destructors are not run.
[[noreturn]] void exit_on_failure(const LogGates &log, const Failure &f);

#endif  // VT_REPLAY_GEN_FATAL_H_
