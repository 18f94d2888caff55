// The suite's commands a run of vtu_replay_gen calls to make its script, and
// what to tell an operator who lacks them.
#ifndef VTLB_CORE_SUITE_COMMANDS_H_
#define VTLB_CORE_SUITE_COMMANDS_H_

#include <string>
#include <vector>

// The commands a run with script_type calls, in the order it calls them:
// the generator ("C" takes vtu_gen_cscript, any other type vtu_gen_script),
// the page lister and the page renamer.
std::vector<std::string> vtlb_suite_commands(const char *script_type);

// True when command is an executable regular file in a directory of PATH
// (an empty entry is the current directory; no PATH is /bin:/usr/bin).
bool vtlb_path_has_command(const std::string &command);

// Those of vtlb_suite_commands(script_type) that are not on PATH.
std::vector<std::string> vtlb_missing_suite_commands(const char *script_type);

// "suite command[s] <names> [is|are] not on PATH: " and the two ways out.
std::string vtlb_missing_suite_commands_text(const std::vector<std::string> &missing);

#endif  // VTLB_CORE_SUITE_COMMANDS_H_
