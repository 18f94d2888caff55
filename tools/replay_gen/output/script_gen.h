// The script, made by the suite's generator and given the service names.
#ifndef VT_REPLAY_GEN_OUTPUT_SCRIPT_GEN_H_
#define VT_REPLAY_GEN_OUTPUT_SCRIPT_GEN_H_

// Runs the suite's generator on the generator input file to make
// VT_WDIR/scripts/<script_name>, one page per service, removes the input file
// and names the pages after the services. An existing script is replaced
// only under -f. Ends the run on failure.
void create_script();

// Ends the run before any work when a suite command create_script calls for
// the configured script_type is not on PATH, naming it and where to get it.
void require_suite_commands();

#include <stddef.h>

#include <string>
#include <vector>

// Gives page k of the generated script the name of service k, through
// temporary names, when the script has exactly one page per service. A
// listing or renaming command that fails ends the run.
void rename_gen_file();

// Longest command line of one renaming call: the shell gets it as one
// argument, which the system takes up to 128 KiB.
constexpr size_t kMaxRenameCommand = 64 * 1024;

// The suffix of the temporary names: "XXX", or "XXX1", "XXX2", ... when a
// target name with "XXX" would be a current or a target name. Targets that
// repeat (two services ending with one name) get one temporary name.
std::string pick_temporary_suffix(const std::vector<std::string> &current,
                                  const std::vector<std::string> &targets);

// One renaming call: comma-separated current and new names.
struct RenameCall {
  std::string from;
  std::string to;
};

// The pairs from[i] -> to[i] in order, cut into calls whose command line
// (for script_name) stays within max_command bytes where a single pair
// allows it.
std::vector<RenameCall> split_rename_lists(const std::vector<std::string> &from,
                                           const std::vector<std::string> &to, size_t max_command);

#endif  // VT_REPLAY_GEN_OUTPUT_SCRIPT_GEN_H_
