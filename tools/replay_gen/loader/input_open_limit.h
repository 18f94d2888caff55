// Step 1: every input file stays open until the run ends, so the list may not
// hold more files than the process may open.
#ifndef VT_REPLAY_GEN_LOADER_INPUT_OPEN_LIMIT_H_
#define VT_REPLAY_GEN_LOADER_INPUT_OPEN_LIMIT_H_

#include <stdint.h>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Descriptors kept beyond the counted ones for the configuration file, the
// replay directory's lock, directory listings, command pipes, the script
// generator's input file and the spill files of a run that spills (at most
// three at a time, numbered from the top of the range: spill_dir.cc).
constexpr int64_t kSpareDescriptors = 16;

// Descriptors the run needs besides its input files: stdio (3), a request
// and an index file per worker, an error log per loader thread, a staging
// pipe (2) per writer thread (at most one per processor and per worker), and
// kSpareDescriptors. loader_threads 0 means automatic: at most one per
// processor.
int64_t reserved_descriptors(int workers, int loader_threads, int num_cpu);

// Raises the open-file soft limit to the hard limit and returns the soft
// limit then in force (INT64_MAX when unlimited).
int64_t raise_open_file_limit(const LogGates &log);

// Descriptors a run needs before it counts its input files: stdio and the
// spare ones.
constexpr int64_t kMinOpenFiles = 3 + kSpareDescriptors;

// Raises the open-file limit as Step 1 does, and fails the run, naming the
// limit, when even then fewer than kMinOpenFiles descriptors may be open:
// every later open or command pipe would fail on its own, with a message
// that hides the cause.
bool require_open_file_room(const LogGates &log, const char *fname, Failure *err);

// Fails the run when files and the descriptors reserved for this run's
// worker and thread counts exceed open_limit.
bool check_input_file_count(const RunState &run, int32_t files, int64_t open_limit, Failure *err);

#endif  // VT_REPLAY_GEN_LOADER_INPUT_OPEN_LIMIT_H_
