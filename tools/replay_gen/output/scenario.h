// The scenario file under VT_WDIR.
#ifndef VT_REPLAY_GEN_OUTPUT_SCENARIO_H_
#define VT_REPLAY_GEN_OUTPUT_SCENARIO_H_

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Private address of the commented-out server line of the scenario.
constexpr const char *kScenarioServerIp = "192.168.1.10";

// Writes VT_WDIR/scenarios/<scenario_name>: one group running the script on
// the replay directory with num_vvm workers. An existing scenario is replaced
// only under -f. A dry run writes nothing: what the run would refuse (no
// VT_WDIR, no scenario directory, an existing scenario) becomes its problem.
bool create_scenario(RunState &run, Failure *err);

#endif  // VT_REPLAY_GEN_OUTPUT_SCENARIO_H_
