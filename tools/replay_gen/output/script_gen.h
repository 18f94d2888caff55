// The script, made by the suite's generator and given the service names.
#ifndef VT_REPLAY_GEN_OUTPUT_SCRIPT_GEN_H_
#define VT_REPLAY_GEN_OUTPUT_SCRIPT_GEN_H_

void create_script();

#endif  // VT_REPLAY_GEN_OUTPUT_SCRIPT_GEN_H_
