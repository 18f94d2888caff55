// The users of a run that spills, read back after Step 4: the users in
// creation order from their list, each with its requests' rows from the
// merged runs of the user order. The index files are written from them
// (index_files.h), and vt_package preview profiles them.
#ifndef VT_REPLAY_GEN_OUTPUT_SPILLED_INDEX_H_
#define VT_REPLAY_GEN_OUTPUT_SPILLED_INDEX_H_

#include <stdint.h>

#include <vector>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/run_state.h"

struct SpilledUsers {
  RunMerge<IndexRow, UserPlaceLess> rows;
  std::vector<UserEntry> chunk;
  uint64_t chunk_first = 0;  // user number of chunk[0]
  uint64_t next_user = 0;
};

// Merges the rows' runs down to one merge and starts reading.
bool spilled_users_begin(RunState &run, SpilledUsers *u, Failure *err);

// The next user into *user, *more false when none is left; its rows follow
// with next_spilled_row.
bool next_spilled_user(RunState &run, SpilledUsers *u, UserEntry *user, bool *more, Failure *err);

// The next request of the user last returned, *more false after its last
// one.
bool next_spilled_row(SpilledUsers *u, ReqNode *row, bool *more, Failure *err);

// Releases the merge and the spill files behind it.
void spilled_users_end(RunState &run, SpilledUsers *u);

#endif  // VT_REPLAY_GEN_OUTPUT_SPILLED_INDEX_H_
