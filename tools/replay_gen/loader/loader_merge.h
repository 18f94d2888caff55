// Step 2 after the loader threads' joins: their counters, services and
// records merged into the run, in memory or, for a run that spills, as the
// sorted runs the threads wrote.
#ifndef VT_REPLAY_GEN_LOADER_LOADER_MERGE_H_
#define VT_REPLAY_GEN_LOADER_LOADER_MERGE_H_

#include <stdint.h>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/run_state.h"

// Merges the num_threads finished threads into the run; their arrays and
// lists are released on the way (release_loader_threads frees what is left
// of them either way). num_predefined_services: the service table's entries
// when the threads started.
bool merge_loader_threads(RunState &run, ThreadArgs *args, int num_threads,
                          int16_t num_predefined_services, Failure *err);

// Releases what the threads still hold.
void release_loader_threads(ThreadArgs *args, int num_threads);

// The loader's summary line, and at -d 4 the service id of every record.
bool print_loader_summary(RunState &run, Failure *err);

#endif  // VT_REPLAY_GEN_LOADER_LOADER_MERGE_H_
