// Step 3 of a run that spills. The loader left the records in sorted runs of
// the uid/time order (ties in log order). They are merged, in passes of a
// bounded fan-in while there are too many runs, and the last merge walks
// them in that order: the session rule gives each its parent_seq there, and
// the records go on in new runs of the time order, which Step 4 merges.
// The console shows the lines the in-memory orderings show.
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "tools/replay_gen/date_time.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/sequencing/sequence_order.h"
#include "tools/replay_gen/sequencing/session_rule.h"
#include "tools/replay_gen/spill/side_job.h"
#include "tools/replay_gen/trace_names.h"

namespace {

// The merge of the uid/time runs reads with at most this share of the
// budget; the rest holds the time-order run being filled.
constexpr uint64_t kMergeShareDivisor = 2;
constexpr size_t kMinRunRecords = 16;

// Prints a line of the default ordering, or of the -N ordering, which
// prints its lines whatever the log gates say.
void note(const RunState &run, const char *default_format, const char *one_sort_format) {
  if (run.options.one_sort_algo)
    console_printf(run.log, one_sort_format, get_cur_date_time(nullptr));
  else
    step_note(run.log, default_format);
}

SessionRecord session_record(const RunState &run, const LoadedRecord &l) {
  SessionRecord r{};
  r.time_stamp = l.time_stamp;
  r.seq = run.spill.file_base[l.seq_index] + l.place;
  r.uid = l.uid;
  r.req_offset = l.req_offset;
  r.req_size = l.req_size;
  r.seq_index = l.seq_index;
  r.creation_ts_offset = l.creation_ts_offset;
  r.service_id = l.runtime_service == 1 ? run.spill.service_remap[static_cast<size_t>(l.thread_id)]
                                                                 [static_cast<size_t>(l.service_id)]
                                        : l.service_id;
  r.creation_ts_size = l.creation_ts_size;
  r.type = l.type;
  return r;
}

// The time-order run being filled, and the one its side job sorts and
// writes meanwhile, with what made the job fail.
struct TimeRuns {
  RunState *run;
  std::vector<SessionRecord> bufs[2];
  size_t filling = 0;
  size_t used = 0;
  size_t writing_count = 0;
  SideJob job;
  Failure job_failure;
};

void write_time_run(void *arg) {
  auto *t = static_cast<TimeRuns *>(arg);
  sort_into_run(*t->run, &t->run->spill.by_time, t->bufs[1 - t->filling].data(), t->writing_count,
                TimeSeqLess{}, &t->job_failure);
}

// Waits for the side job; false, with *err, when it failed.
bool wait_time_run(TimeRuns *t, Failure *err) {
  side_job_wait(&t->job);
  if (t->job_failure.status == 0) return true;
  *err = t->job_failure;
  return false;
}

// Hands the filled buffer to the side job and goes on with the other.
bool switch_time_run(TimeRuns *t, Failure *err) {
  if (!wait_time_run(t, err)) return false;
  t->writing_count = t->used;
  t->filling = 1 - t->filling;
  t->used = 0;
  side_job_start(&t->job, write_time_run, t);
  return true;
}

// The session rule over the merged uid/time runs, with the debug lines of
// fill_parent_seq (or, with -N, fill_parent_seq_new).
bool fill_spilled_sessions(RunState &run, uint64_t n, const MergeShape &shape, Failure *err) {
  const LogGates &log = run.log;
  bool one_sort = run.options.one_sort_algo != 0;
  if (log.debug_level) {
    if (one_sort)
      debug_log(log, 2, trace_name::kFillParentSeqNew, "Method called");
    else
      debug_log(log, 2, trace_name::kFillParentSeq, "*****g_valid_msgcount = %lu*******", n);
  }
  RunSort<LoadedRecord> &from = run.spill.by_uid;
  size_t inputs = std::min(from.runs.size(), shape.fan_in);
  uint64_t merge_bytes = inputs * shape.block_records * sizeof(LoadedRecord);
  uint64_t room = run.spill.budget > merge_bytes ? run.spill.budget - merge_bytes : 0;
  TimeRuns out;
  out.run = &run;
  for (std::vector<SessionRecord> &buf : out.bufs)
    buf.resize(std::max<size_t>(room / 2 / sizeof(SessionRecord), kMinRunRecords));
  RunMerge<LoadedRecord, UidTimeLess> m;
  bool ok =
      merge_begin(&m, from.runs.data(), from.runs.size(), shape.block_records, UidTimeLess{}, err);
  OpenSession s{};
  bool first = true;
  uint64_t opened = 0, earliest = UINT64_MAX;
  while (ok && merge_top(m)) {
    SessionRecord r = session_record(run, *merge_top(m));
    if (!merge_pop(&m, err)) {
      ok = false;
      break;
    }
    if (first) s = OpenSession{r.seq, r.uid, r.time_stamp};
    first = false;
    if (!session_joins(s, r.uid, r.time_stamp, run.config.new_user_time)) {
      s = OpenSession{r.seq, r.uid, r.time_stamp};
      opened++;
    } else if (!one_sort && log.debug_level) {
      debug_log(log, 2, trace_name::kFillParentSeq, "same user");
    }
    r.parent_seq = s.key;
    if (log.debug_level) {
      if (one_sort)
        debug_log(log, 2, trace_name::kFillParentSeqNew, "cur_seq %lu", s.key);
      else
        debug_log(log, 2, trace_name::kFillParentSeq, "seq_data_arr[i].parent_seq %lu", s.key);
    }
    earliest = std::min(earliest, r.time_stamp);
    out.bufs[out.filling][out.used++] = r;
    if (out.used == out.bufs[out.filling].size()) ok = switch_time_run(&out, err);
  }
  if (ok && out.used) ok = switch_time_run(&out, err);
  Failure job_failure;
  bool job_ok = wait_time_run(&out, &job_failure);
  if (ok && !job_ok) {
    *err = job_failure;
    ok = false;
  }
  merge_end(&m);
  run_sort_release(&from);
  if (!ok) return false;
  run.spill.earliest_time = earliest;
  if (!one_sort && log.debug_level)
    debug_log(log, 2, trace_name::kFillParentSeq, "no_parent_seq %lu", opened);
  return true;
}

}  // namespace

bool sort_spilled_records(RunState &run, uint64_t n, Failure *err) {
  MergeShape shape = merge_shape(run.spill.budget / kMergeShareDivisor, sizeof(LoadedRecord));
  if (run.options.one_sort_algo) note_copy_allocation(run.log, n);
  note(run, "Start Sorting of sequence file data using uid/timestamp at %s\n",
       "  Start: Sorting of sequence file data using uid/timestamp at %s\n\n");
  if (!reduce_runs(run, &run.spill.by_uid, shape, UidTimeLess{}, err)) return false;
  note(run, "End Sorting of request file data using uid/timestamp at %s\n",
       "  End: Sorting of request file data using uid/timestamp at %s\n\n");
  note(run, "Start Filling parent sequence numbers at %s\n",
       "  Start: Filling parent sequence numbers at %s\n\n");
  if (!fill_spilled_sessions(run, n, shape, err)) return false;
  note(run, "End Filling parent sequence numbers at %s\n",
       "  End: Filling parent sequence numbers at %s\n\n");
  if (!run.options.one_sort_algo) {
    step_note(run.log, "Start Sorting of sequence file data using seq number at %s\n");
    step_note(run.log, "End Sorting of sequence file data using seq number at %s\n");
  }
  return true;
}
