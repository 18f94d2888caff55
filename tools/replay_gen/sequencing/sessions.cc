// The session rule (session_rule.h) over the records in memory.
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/sequencing/sequence_order.h"
#include "tools/replay_gen/sequencing/session_rule.h"
#include "tools/replay_gen/trace_names.h"

namespace {

// R is a record or its UidTimeKey.
template <typename R>
OpenSession session_of(const R &rec) {
  return OpenSession{rec.seq, rec.uid, rec.time_stamp};
}

template <typename R>
bool joins(const RunState &run, const OpenSession &s, const R &rec) {
  return session_joins(s, rec.uid, rec.time_stamp, run.config.new_user_time);
}

}  // namespace

void fill_parent_seq(RunState &run, const UidTimeKey *sorted, uint64_t n) {
  if (run.log.debug_level)
    debug_log(run.log, 2, trace_name::kFillParentSeq, "*****g_valid_msgcount = %lu*******", n);
  if (n == 0) return;
  OpenSession s = session_of(sorted[0]);
  uint64_t no_parent_seq = 0;
  for (uint64_t i = 0; i < n; i++) {
    const UidTimeKey &key = sorted[i];
    if (joins(run, s, key)) {
      if (run.log.debug_level) debug_log(run.log, 2, trace_name::kFillParentSeq, "same user");
    } else {
      s = session_of(key);
      no_parent_seq++;
    }
    run.records.seq_data_arr[key.seq].parent_seq = s.key;
    if (run.log.debug_level)
      debug_log(run.log, 2, trace_name::kFillParentSeq, "seq_data_arr[i].parent_seq %lu", s.key);
  }
  if (run.log.debug_level)
    debug_log(run.log, 2, trace_name::kFillParentSeq, "no_parent_seq %lu", no_parent_seq);
}

void fill_parent_seq_new(RunState &run) {
  if (run.log.debug_level) debug_log(run.log, 2, trace_name::kFillParentSeqNew, "Method called");
  uint64_t n = run.counters.g_valid_msgcount;
  if (n == 0) return;
  OpenSession s = session_of(run.records.seq_data_arr_copy[0]);
  for (uint64_t i = 0; i < n; i++) {
    const SeqData &c = run.records.seq_data_arr_copy[i];
    SeqData &own = run.records.seq_data_arr[c.seq];
    if (!joins(run, s, c)) s = session_of(c);
    own.parent_seq = s.key;
    if (run.log.debug_level)
      debug_log(run.log, 2, trace_name::kFillParentSeqNew, "cur_seq %lu", s.key);
  }
}
