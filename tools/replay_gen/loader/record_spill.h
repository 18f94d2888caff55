// Step 2 under the memory budget. The loader threads report how many records
// they accepted; once the run's accepted records would not fit the budget in
// memory, the run spills: every thread then keeps at most its share of
// records, and whenever it holds that many a job beside it sorts them by uid
// and time and writes them as one run of the uid/time sort (run_sort.h).
#ifndef VT_REPLAY_GEN_LOADER_RECORD_SPILL_H_
#define VT_REPLAY_GEN_LOADER_RECORD_SPILL_H_

#include <stdint.h>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/run_state.h"

// After a thread accepted a record; seq_no is its count of accepted records.
bool after_accepted_record(RunState &run, ThreadArgs *t, uint64_t seq_no, Failure *err);

// Records by which a thread's array grows when full, from old_size: at most
// to the thread's share once the run spills.
uint64_t loader_grow_step(const RunState &run, uint64_t old_size);

// Whether the run spills; decides it for `accepted` records when it does not
// yet. Says so on the console when it starts.
bool run_spills(RunState &run, uint64_t accepted, bool *spills, Failure *err);

// Hands the records the thread holds (those before seq_no) to its side job,
// which sorts them and writes them as one run, and gives the thread an empty
// array. False, with *err, when the array cannot be had or the job before
// failed.
bool spill_thread_records(RunState &run, ThreadArgs *t, uint64_t seq_no, Failure *err);

// Waits for the thread's side job and releases its array; false, with *err,
// when the job failed.
bool finish_thread_spills(ThreadArgs *t, Failure *err);

// Records a loader thread may hold once the run spills, with num_threads
// threads (run.spill.loader_share).
uint64_t loader_thread_share(const RunState &run, int num_threads);

#endif  // VT_REPLAY_GEN_LOADER_RECORD_SPILL_H_
