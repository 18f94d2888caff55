// The run driver: options, the run order and its step lines.
#ifndef VT_REPLAY_GEN_DRIVER_DRIVER_H_
#define VT_REPLAY_GEN_DRIVER_DRIVER_H_

#include <stdint.h>

// Room for the -i argument: at most kConfigNameMax characters.
constexpr int kConfigNameSize = 10000;
constexpr int kConfigNameMax = kConfigNameSize - 1;

// The whole run; returns the exit status of a completed run (fatal paths end
// the process themselves).
int vtu_replay_gen_main(int argc, char **argv);

// Reads the options into the run-wide flags; file_name receives the last -i
// argument. Returns how many -i options were seen.
int parse_options(int argc, char **argv, char *file_name);

[[noreturn]] void print_usage(const char *exename);

// --help (the usage text) and --version, on standard output; true when one
// of them was asked, which ends the program with status 0 before the run.
bool print_help_or_version(int argc, char **argv);

void show_start_step_info(int64_t timestamp, const char *msg);
void show_end_step_info(int64_t start_timestamp, int64_t end_timestamp, const char *msg);
// Step 1's end line, which has no request counts yet.
void show_step1_end_info(int64_t elapsed);

void set_default_num_vvm();
int64_t get_total_users();

// Worker count for a CPU count: twice the count, clamped into 1..256.
int clamp_default_num_vvm(int num_cpu);

#endif  // VT_REPLAY_GEN_DRIVER_DRIVER_H_
