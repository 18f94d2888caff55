// The one list of the run's stages. vtu_replay_gen calls it to make the
// package; vt_package preview calls it for a dry run, whose writes go
// nowhere and whose console is quiet.
#ifndef VT_REPLAY_GEN_DRIVER_GENERATE_H_
#define VT_REPLAY_GEN_DRIVER_GENERATE_H_

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

enum class Mode { kWrite, kDryRun };

// Runs the stages in order over run, whose options, worker count and locale
// are set, until one fails: returns 0, or the failure's exit status with *err
// telling why (the spill directory, if any, removed). A dry run goes on
// after such a failure with the stages that need nothing of the others (the
// checks of the suite commands, the scenario and the script), once the configuration is read, and
// notes in run.dry.problems what would stop the run ("the run would stop:
// <line>") and what would fail it at its end. run.stages_done names the
// stages that completed.
int generate(RunState &run, Mode mode, Failure *err);

// The stages' names, in order ("Step 2", ...), and how many there are.
int stage_count();
const char *stage_name(int index);
// Whether the stage of that name completed in run.
bool stage_completed(const RunState &run, const char *name);

#endif  // VT_REPLAY_GEN_DRIVER_GENERATE_H_
