// Step 1: every input file stays open until the run ends, so the list may not
// hold more files than the process may open.
#ifndef VT_REPLAY_GEN_LOADER_INPUT_OPEN_LIMIT_H_
#define VT_REPLAY_GEN_LOADER_INPUT_OPEN_LIMIT_H_

#include <stdint.h>

// Descriptors kept for the tool's own use: stdio (3), the workers' request
// files (256) and index files (256), the loader threads' error logs (up to
// 256), and the rest for the configuration file, directory listings, command
// pipes and the script generator's input file.
constexpr int64_t kReservedDescriptors = 1024;

// Raises the open-file soft limit to the hard limit and returns the soft
// limit then in force (INT64_MAX when unlimited).
int64_t raise_open_file_limit();

// Ends the run when files + kReservedDescriptors exceed open_limit.
void check_input_file_count(int32_t files, int64_t open_limit);

#endif  // VT_REPLAY_GEN_LOADER_INPUT_OPEN_LIMIT_H_
