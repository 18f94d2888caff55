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

#include "tools/replay_gen/records.h"

// Creates (or truncates) the request file of every worker in replay_dir.
void init_vvm_data();

// Closes every request file; a failed close ends the run.
void close_vvm_files();

// Step 4 over seq_data_arr, which is sorted by time: makes the times
// relative, builds the user list with every entry's place, then writes the
// entries.
void process_sequence_data_new();

// The first pass of Step 4 over seq_data_arr, sorted by time: makes the
// times relative, builds the user list and gives every entry its place; no
// file is written. entry_worker, when not null, receives the worker of every
// record by position.
void plan_request_entries(uint8_t *entry_worker);

// Makes the user of a session from its first record, deals it to a worker,
// places that record's entry and appends the user to the list.
UserNode *add_user_new(const SeqData &rec);

// Places the entry of rec at the end of the user's worker's request file:
// a new ReqNode of the user records its offset, size and creation timestamp,
// and the worker's offset moves past it. Nothing is written here.
void add_request_new(UserNode *user, const SeqData &rec);

// Gives the entry of rec, a request of user user_id on worker vvm_id, its
// place at the end of that worker's request file: row receives its offset,
// size and creation timestamp, and the worker's offset moves past it.
void place_entry(const SeqData &rec, uint64_t user_id, int vvm_id, ReqNode *row);

// The worker for the next new user: 0, 1, ..., num_vvm - 1, 0, ...
int get_vvm_id();

// num_vvm after checking that it fits the worker table; ends the run if not.
int checked_num_vvm(const char *fname);

#endif  // VT_REPLAY_GEN_OUTPUT_REQUEST_FILES_H_
