#include "tools/replay_gen/sequencing/sequence_order.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "tools/replay_gen/date_time.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/trace_names.h"

namespace {

template <typename T>
int three_way(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

// The uid/time order of anything that has a uid and a time_stamp: a record,
// or its key.
template <typename R>
int uid_time_order(const R &a, const R &b) {
  if (int by_uid = three_way(a.uid, b.uid)) return by_uid;
  return three_way(a.time_stamp, b.time_stamp);
}

// The orders the sorts use: the comparators' keys, then seq. Records that
// the comparators find equal thus keep the order of the logs (input file,
// then line), so that every sort, in memory or in runs on disk (spilled
// runs), gives the same order.
template <typename R>
bool uid_time_seq_before(const R &a, const R &b) {
  if (int order = uid_time_order(a, b)) return order < 0;
  return a.seq < b.seq;
}

bool time_seq_before(const SeqData &a, const SeqData &b) {
  if (a.time_stamp != b.time_stamp) return a.time_stamp < b.time_stamp;
  return a.seq < b.seq;
}

// Room for n elements of size bytes each; null, with *err naming what, when
// there is none.
void *new_array(uint64_t n, size_t size, const char *what, Failure *err) {
  void *mem = n <= SIZE_MAX / size ? malloc(n * size) : nullptr;
  if (!mem) out_of_memory(err, "sort_seq_array", what, static_cast<long long>(n * size));
  return mem;
}

// The records' uid/time keys, sorted. Sorting the 24-byte keys instead of
// the 80-byte records leaves the records where they are; the keys carry the
// seq, so they end in the order the records would have.
UidTimeKey *sorted_uid_time_keys(const RunState &run, uint64_t n, Failure *err) {
  auto *keys =
      static_cast<UidTimeKey *>(new_array(n, sizeof(UidTimeKey), "uid/timestamp keys", err));
  if (!keys) return nullptr;
  for (uint64_t i = 0; i < n; i++) {
    const SeqData &rec = run.records.seq_data_arr[i];
    keys[i] = UidTimeKey{rec.uid, rec.time_stamp, rec.seq};
  }
  // The comparisons are lambdas, so that the sort calls them inline rather
  // than through a pointer, millions of times.
  std::sort(keys, keys + n,
            [](const UidTimeKey &a, const UidTimeKey &b) { return uid_time_seq_before(a, b); });
  return keys;
}

}  // namespace

void step_note(const LogGates &log, const char *format) {
  info_log(log, 1, "  ", format, get_cur_date_time(nullptr));
}

void note_copy_allocation(const LogGates &log, uint64_t n) {
  if (log.debug_level)
    debug_log(log, 2, "sort_seq_array", "Allocating memory for %s. size = %lu",
              "Sequence struct copy allocation", n * sizeof(SeqData));
}

namespace {

// The default ordering. Only the records' keys are sorted, so the records
// never leave merge order, and the sort back into it that the last two
// messages announce has nothing to do.
bool sort_in_place(RunState &run, uint64_t n, Failure *err) {
  step_note(run.log, "Start Sorting of sequence file data using uid/timestamp at %s\n");
  UidTimeKey *keys = sorted_uid_time_keys(run, n, err);
  if (!keys) return false;
  step_note(run.log, "End Sorting of request file data using uid/timestamp at %s\n");
  step_note(run.log, "Start Filling parent sequence numbers at %s\n");
  fill_parent_seq(run, keys, n);
  free(keys);
  step_note(run.log, "End Filling parent sequence numbers at %s\n");
  step_note(run.log, "Start Sorting of sequence file data using seq number at %s\n");
  step_note(run.log, "End Sorting of sequence file data using seq number at %s\n");
  return true;
}

bool sort_copy(RunState &run, uint64_t n, Failure *err) {
  RecordTable &r = run.records;
  const char *what = "Sequence struct copy allocation";
  uint64_t bytes = n * sizeof(SeqData);
  note_copy_allocation(run.log, n);
  r.seq_data_arr_copy = static_cast<SeqData *>(new_array(n, sizeof(SeqData), what, err));
  if (!r.seq_data_arr_copy) return false;
  memcpy(r.seq_data_arr_copy, r.seq_data_arr, bytes);
  // Step 3's inner lines are printed whatever the log gates say.
  console_printf(run.log, "  Start: Sorting of sequence file data using uid/timestamp at %s\n\n",
                 get_cur_date_time(nullptr));
  std::sort(r.seq_data_arr_copy, r.seq_data_arr_copy + n,
            [](const SeqData &a, const SeqData &b) { return uid_time_seq_before(a, b); });
  console_printf(run.log, "  End: Sorting of request file data using uid/timestamp at %s\n\n",
                 get_cur_date_time(nullptr));
  console_printf(run.log, "  Start: Filling parent sequence numbers at %s\n\n",
                 get_cur_date_time(nullptr));
  fill_parent_seq_new(run);
  console_printf(run.log, "  End: Filling parent sequence numbers at %s\n\n",
                 get_cur_date_time(nullptr));
  free(r.seq_data_arr_copy);
  r.seq_data_arr_copy = nullptr;
  return true;
}

}  // namespace

int comp_seq_data_using_uid(const SeqData *a, const SeqData *b) {
  return uid_time_order(*a, *b);
}

int sort_log_data_using_time(const SeqData *a, const SeqData *b) {
  return three_way(a->time_stamp, b->time_stamp);
}

bool sort_seq_array(RunState &run, uint64_t n, Failure *err) {
  if (run.log.debug_level)
    debug_log(run.log, 2, "sort_seq_array", "Method called. total entries = %lu", n);
  if (n == 0) return true;
  if (run.spill.spilling) return sort_spilled_records(run, n, err);
  if (run.options.one_sort_algo) return sort_copy(run, n, err);
  return sort_in_place(run, n, err);
}

void sort_seq_data_by_time(RunState &run, uint64_t n) {
  if (run.log.debug_level)
    debug_log(run.log, 5, "sort_seq_data_by_time", "Method called. total entries = %lu", n);
  // A run that spills has its records in runs of the time order already.
  if (run.spill.spilling) return;
  std::sort(run.records.seq_data_arr, run.records.seq_data_arr + n,
            [](const SeqData &a, const SeqData &b) { return time_seq_before(a, b); });
}

void update_timestamp_to_relative(RunState &run) {
  if (run.log.debug_level) debug_log(run.log, 2, trace_name::kUpdateTimestamp, "Method called");
  uint64_t n = run.counters.g_valid_msgcount;
  if (n == 0) return;
  SeqData *recs = run.records.seq_data_arr;
  uint64_t earliest = recs[0].time_stamp;
  for (uint64_t i = 1; i < n; i++) earliest = std::min(earliest, recs[i].time_stamp);
  for (uint64_t i = 0; i < n; i++) recs[i].time_stamp -= earliest;
  run.records.time_zero_ms = earliest;
}
