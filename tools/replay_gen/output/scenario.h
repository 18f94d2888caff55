// The scenario file under VT_WDIR.
#ifndef VT_REPLAY_GEN_OUTPUT_SCENARIO_H_
#define VT_REPLAY_GEN_OUTPUT_SCENARIO_H_

// Private address of the commented-out server line of the scenario.
constexpr const char *kScenarioServerIp = "192.168.1.10";

// Writes VT_WDIR/scenarios/<scenario_name>: one group running the script on
// the replay directory with num_vvm workers. An existing scenario is replaced
// only under -f. Ends the run on failure.
void create_scenario();

#endif  // VT_REPLAY_GEN_OUTPUT_SCENARIO_H_
