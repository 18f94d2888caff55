// Step 4: users, workers and the request files "vt_req_<w>".
//
// Every record, taken in time order, belongs to the user of its session
// (parent_seq); the user is made on the session's first request and dealt to
// the next worker in turn. Each request is appended to its worker's request
// file as one entry: the service's head, "Content-Length: <n>\r\n\r\n", the
// configured top lines, the body copied from the input file, and "\n".
// A first pass in time order makes the users and gives every entry its place;
// the writer threads of request_writer.h then write the files.
#ifndef VT_REPLAY_GEN_OUTPUT_REQUEST_FILES_H_
#define VT_REPLAY_GEN_OUTPUT_REQUEST_FILES_H_

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/run_state.h"

// Creates the request file of every worker in replay_dir, new; a dry run,
// whose writes go nowhere, makes none.
bool init_vvm_data(RunState &run, Failure *err);

// Closes every request file; a failed close fails the run.
bool close_vvm_files(RunState &run, Failure *err);

// Step 4 over seq_data_arr, which is sorted by time: makes the times
// relative, builds the user list with every entry's place, then writes the
// entries (a dry run writes none).
bool process_sequence_data_new(RunState &run, Failure *err);

// The first pass of Step 4 over seq_data_arr, sorted by time: makes the
// times relative, builds the user list and gives every entry its place; no
// file is written. entry_worker, when not null, receives the worker of every
// record by position.
bool plan_request_entries(RunState &run, uint8_t *entry_worker, Failure *err);

// Makes the user of a session from its first record, deals it to a worker,
// places that record's entry and appends the user to the list (*user).
bool add_user_new(RunState &run, const SeqData &rec, UserNode **user, Failure *err);

// Places the entry of rec at the end of the user's worker's request file:
// a new ReqNode of the user records its offset, size and creation timestamp,
// and the worker's offset moves past it. Nothing is written here.
bool add_request_new(RunState &run, UserNode *user, const SeqData &rec, Failure *err);

// Gives the entry of rec, a request of user user_id on worker vvm_id, its
// place at the end of that worker's request file: row receives its offset,
// size and creation timestamp, and the worker's offset moves past it.
bool place_entry(RunState &run, const SeqData &rec, uint64_t user_id, int vvm_id, ReqNode *row,
                 Failure *err);

// The worker for the next new user: 0, 1, ..., num_vvm - 1, 0, ...
int get_vvm_id(RunState &run);

// num_vvm, checked to fit the worker table, into *workers.
bool checked_num_vvm(const RunState &run, const char *fname, int *workers, Failure *err);

#endif  // VT_REPLAY_GEN_OUTPUT_REQUEST_FILES_H_
