// Step 3: ordering of the records and their user sessions, and the time
// order that Step 4 works in.
#ifndef VT_REPLAY_GEN_SEQUENCING_SEQUENCE_ORDER_H_
#define VT_REPLAY_GEN_SEQUENCING_SEQUENCE_ORDER_H_

#include <stdint.h>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/run_state.h"

// Three-way comparison of two records, -1, 0 or 1: by uid (signed), then
// time_stamp.
int comp_seq_data_using_uid(const SeqData *a, const SeqData *b);
// By time_stamp.
int sort_log_data_using_time(const SeqData *a, const SeqData *b);

// A record's uid and time, and its seq: all that the uid/time sort and the
// session rule read of it.
struct UidTimeKey {
  int64_t uid;
  uint64_t time_stamp;
  uint64_t seq;
};

// Step 3 over the first n records of seq_data_arr (n is g_valid_msgcount):
// sets every parent_seq, and leaves the records in seq order. The default
// ordering sorts the records' keys; with one_sort_algo a sorted copy of the
// records is used. Records equal in uid and time keep their seq order, and
// so do records of equal time in the sort before Step 4.
bool sort_seq_array(RunState &run, uint64_t n, Failure *err);

// Session rule over the n keys, sorted by uid and time; each record's
// parent_seq is written in seq_data_arr at its seq.
void fill_parent_seq(RunState &run, const UidTimeKey *sorted, uint64_t n);
// Session rule over seq_data_arr_copy, sorted by uid and time; the results go
// to seq_data_arr through each record's seq.
void fill_parent_seq_new(RunState &run);

// Step 3 of a run that spills (spilled_order.cc): the records of the
// uid/time runs merged, their sessions found as they come, and the records
// with their parent_seq spilled again in runs of the time order for Step 4.
bool sort_spilled_records(RunState &run, uint64_t n, Failure *err);

// Step 3's progress lines: format has one %s, the date and time.
void step_note(const LogGates &log, const char *format);
// The debug line of the -N ordering's copy of n records.
void note_copy_allocation(const LogGates &log, uint64_t n);

// Sorts the first n records of seq_data_arr by time before Step 4.
void sort_seq_data_by_time(RunState &run, uint64_t n);

// Subtracts the earliest time_stamp from every record's time_stamp.
void update_timestamp_to_relative(RunState &run);

#endif  // VT_REPLAY_GEN_SEQUENCING_SEQUENCE_ORDER_H_
