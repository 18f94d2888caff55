// The scenario file under VT_WDIR.
#ifndef VT_REPLAY_GEN_OUTPUT_SCENARIO_H_
#define VT_REPLAY_GEN_OUTPUT_SCENARIO_H_

void create_scenario();

#endif  // VT_REPLAY_GEN_OUTPUT_SCENARIO_H_
