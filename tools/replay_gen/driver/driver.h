// The run driver: options, the run's setup and its step lines. The stage
// list itself is in generate.h.
#ifndef VT_REPLAY_GEN_DRIVER_DRIVER_H_
#define VT_REPLAY_GEN_DRIVER_DRIVER_H_

#include <stdint.h>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Room for the -i argument: at most kConfigNameMax characters.
constexpr int kConfigNameSize = 10000;
constexpr int kConfigNameMax = kConfigNameSize - 1;

// The whole program: its setup, the stage list, and the one place where a
// failure is written and the process ends with its status.
int vtu_replay_gen_main(int argc, char **argv);

// Reads the options into run.options and the log gates, and the last -i
// into run.options.config_path; *i_flag counts the -i options seen. A bad
// option fails with the usage text.
bool parse_options(RunState &run, int argc, char **argv, int *i_flag, Failure *err);

// The usage text for exename, as a failure's text on standard error.
bool print_usage(const char *exename, Failure *err);

// --help (the usage text) and --version, on standard output; true when one
// of them was asked, which ends the program with status 0 before the run.
bool print_help_or_version(int argc, char **argv);

void show_start_step_info(RunState &run, int64_t timestamp, const char *msg);
void show_end_step_info(RunState &run, int64_t start_timestamp, int64_t end_timestamp,
                        const char *msg);
// Step 1's end line, which has no request counts yet.
void show_step1_end_info(const RunState &run, int64_t elapsed);

void set_default_num_vvm(RunState &run);
int64_t get_total_users(const RunState &run);

// Worker count for a CPU count: twice the count, clamped into 1..256.
int clamp_default_num_vvm(const LogGates &log, int num_cpu);

#endif  // VT_REPLAY_GEN_DRIVER_DRIVER_H_
