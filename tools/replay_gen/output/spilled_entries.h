// Step 4 of a run that spills. The records come from the time-order runs of
// Step 3, merged; the walk over them does what the in-memory Step 4 does,
// in the same order: times made relative, users made at their sessions'
// first requests and dealt to the workers, every entry placed, progress
// lines. A session's first request in time order is the record whose seq is
// its key, as equal times keep log order in both sorts; the sessions still
// open are kept in a table (active_sessions.h). Entries are written batch
// by batch; each request's row for the index files goes to runs of the user
// order, each user to a list in creation order (spilled_index.h reads them).
#ifndef VT_REPLAY_GEN_OUTPUT_SPILLED_ENTRIES_H_
#define VT_REPLAY_GEN_OUTPUT_SPILLED_ENTRIES_H_

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// The walk; with write_files the request files are written as well (the
// run), without it nothing is written to them (a dry run).
bool walk_spilled_requests(RunState &run, bool write_files, Failure *err);

#endif  // VT_REPLAY_GEN_OUTPUT_SPILLED_ENTRIES_H_
