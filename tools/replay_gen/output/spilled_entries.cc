#include "tools/replay_gen/output/spilled_entries.h"

#include <stdio.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "tools/replay_gen/log.h"
#include "tools/replay_gen/memory_budget.h"
#include "tools/replay_gen/output/active_sessions.h"
#include "tools/replay_gen/output/request_files.h"
#include "tools/replay_gen/output/request_writer.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/trace_names.h"

namespace {

const char *const kFname = trace_name::kProcessSequenceData;

// The budget in quarters: the merge of the time-order runs, the batch of
// records being planned and written, the index rows being sorted, and the
// open sessions.
constexpr uint64_t kQuarters = 4;
constexpr size_t kMinBatch = 16;
constexpr size_t kUserChunk = 4096;

struct Walk {
  RunState *run;
  bool write_files;
  uint64_t n;
  RequestWriters writers;
  std::vector<SeqData> batch;
  std::vector<uint8_t> batch_worker;
  size_t batched = 0;
  std::vector<IndexRow> rows;
  size_t rows_used = 0;
  std::vector<UserEntry> users;
  size_t users_used = 0;
  ActiveSessions sessions;
  bool told_over_budget = false;
};

void show_progress(const RunState &run, uint64_t done, uint64_t all) {
  uint64_t every = static_cast<uint64_t>(static_cast<int64_t>(run.options.commentry_req_count));
  if (done > 0 && every != 0 && done % every == 0)
    info_log(run.log, 1, "  ", "Created %'lu out of %'lu requests", done, all);
}

bool flush_batch(Walk *w, bool last, Failure *err) {
  bool ok = !w->write_files || !(w->batched || last) ||
            write_request_batch(&w->writers, w->batch.data(), w->batch_worker.data(), w->batched,
                                last, err);
  w->batched = 0;
  return ok;
}

bool flush_rows(Walk *w, Failure *err) {
  bool ok = sort_into_run(*w->run, &w->run->spill.rows, w->rows.data(), w->rows_used,
                          UserPlaceLess{}, err);
  w->rows_used = 0;
  return ok;
}

bool flush_users(Walk *w, Failure *err) {
  if (!w->users_used) return true;
  SpillState &spill = w->run->spill;
  if (!spill.users && !(spill.users = spill_file_create(*w->run, "users", err))) return false;
  uint64_t bytes = w->users_used * sizeof(UserEntry);
  w->users_used = 0;
  return spill_file_write(spill.users, spill_file_reserve(spill.users, bytes), w->users.data(),
                          static_cast<size_t>(bytes), err);
}

SeqData batch_record(const RunState &run, const SessionRecord &r) {
  SeqData rec{};
  rec.time_stamp = r.time_stamp - run.spill.earliest_time;
  rec.uid = r.uid;
  rec.seq = r.seq;
  rec.parent_seq = r.parent_seq;
  rec.req_offset = r.req_offset;
  rec.req_size = r.req_size;
  rec.req_file_fp = run.files.seq_file_path[r.seq_index].input_fp;
  rec.seq_index = r.seq_index;
  rec.creation_ts_offset = r.creation_ts_offset;
  rec.service_id = r.service_id;
  rec.creation_ts_size = r.creation_ts_size;
  rec.type = r.type;
  return rec;
}

// The user of a session's first request: made and dealt to a worker as
// add_user_new does, with its debug lines.
bool new_user(Walk *w, const SeqData &rec, ActiveSession *s, Failure *err) {
  RunState &run = *w->run;
  if (run.log.debug_level) {
    debug_log(run.log, 4, trace_name::kAddUser, "Method Called uid = %lu",
              static_cast<uint64_t>(rec.uid));
    debug_log(run.log, 2, trace_name::kAddUser, "Allocating memory for %s. size = %zu",
              "node memory allocation", sizeof(UserNode));
  }
  *s = ActiveSession{rec.seq, rec.time_stamp, run.spill.num_users++, 0,
                     static_cast<uint8_t>(get_vvm_id(run))};
  w->users[w->users_used++] = UserEntry{static_cast<uint64_t>(rec.uid), s->vvm_id};
  return w->users_used < w->users.size() || flush_users(w, err);
}

// Says once that the open sessions take more than their share of the
// budget: the run goes on, beyond the budget.
void check_sessions_share(Walk *w) {
  const RunState &run = *w->run;
  if (w->told_over_budget || active_sessions_bytes(w->sessions) <= run.spill.budget / kQuarters)
    return;
  w->told_over_budget = true;
  char size[32];
  format_size(active_sessions_bytes(w->sessions), size, sizeof size);
  info_log(run.log, 1, "  ",
           "Spill: %'lu sessions are open at once (%s), more than a quarter of the memory budget; "
           "the run goes on beyond the budget",
           w->sessions.count, size);
}

bool place_request(Walk *w, uint64_t i, const SeqData &rec, Failure *err) {
  RunState &run = *w->run;
  uint64_t p = rec.parent_seq;
  if (run.log.debug_level) debug_log(run.log, 2, kFname, "parent_seq = %lu", p);
  if (p >= w->n)
    return fail(err, kFname, "Session key %lu of request %lu is not below %lu", p, i, w->n);
  ActiveSession opened;
  ActiveSession *s;
  if (p == rec.seq) {
    if (!new_user(w, rec, &opened, err)) return false;
    s = &opened;
  } else {
    s = find_session(&w->sessions, p);
    if (!s) return fail(err, kFname, "Session key %lu of request %lu names no open session", p, i);
  }
  if (s->num_req == UINT32_MAX)
    return fail(err, trace_name::kCreateTableEntry,
                "Table %s is full: it cannot hold more than %u entries", "Request Node",
                UINT32_MAX);
  s->num_req++;
  if (s->num_req > run.counters.max_req_per_user) run.counters.max_req_per_user = s->num_req;
  ReqNode row;
  if (!place_entry(run, rec, static_cast<uint64_t>(rec.uid), s->vvm_id, &row, err)) return false;
  w->rows[w->rows_used++] =
      IndexRow{s->user_no, i,           row.time_stamp,         static_cast<uint64_t>(row.offset),
               row.size,   row.page_id, row.creation_ts_offset, row.creation_ts_size,
               row.type};
  if (w->rows_used == w->rows.size() && !flush_rows(w, err)) return false;
  if (s == &opened) {
    run.workers.vvm_list[s->vvm_id].num_users++;
    if (rec.uid != 0 && run.config.new_user_time != 0) {
      add_session(&w->sessions, opened);
      check_sessions_share(w);
    }
  }
  w->batch_worker[w->batched] = s->vvm_id;
  w->batch[w->batched++] = rec;
  return w->batched < w->batch.size() || flush_batch(w, false, err);
}

// The walk itself, over the merge m started.
bool walk_merge(Walk *w, RunMerge<SessionRecord, TimeSeqLess> *m, Failure *err) {
  RunState &run = *w->run;
  uint64_t i = 0;
  for (; merge_top(*m); i++) {
    SeqData rec = batch_record(run, *merge_top(*m));
    if (!merge_pop(m, err)) return false;
    drop_sessions_before(&w->sessions, rec.time_stamp, run.config.new_user_time);
    if (!place_request(w, i, rec, err)) return false;
    show_progress(run, i, w->n);
  }
  show_progress(run, i, w->n);
  return true;
}

}  // namespace

bool walk_spilled_requests(RunState &run, bool write_files, Failure *err) {
  if (run.log.debug_level) debug_log(run.log, 2, trace_name::kUpdateTimestamp, "Method called");
  run.records.time_zero_ms = run.spill.earliest_time;
  Walk w;
  w.run = &run;
  w.write_files = write_files;
  w.n = run.counters.g_valid_msgcount;
  uint64_t quarter = run.spill.budget / kQuarters;
  MergeShape shape = merge_shape(quarter, sizeof(SessionRecord));
  RunMerge<SessionRecord, TimeSeqLess> m;
  size_t batch = std::max<size_t>(quarter / (sizeof(SeqData) + 1), kMinBatch);
  w.batch.resize(batch);
  w.batch_worker.resize(batch);
  w.rows.resize(std::max<size_t>(quarter / sizeof(IndexRow), kMinBatch));
  w.users.resize(
      std::min<size_t>(kUserChunk, std::max<size_t>(quarter / 16 / sizeof(UserEntry), 1)));
  int cpus = static_cast<int>(std::thread::hardware_concurrency());
  bool ok = merge_all_runs(run, &m, &run.spill.by_time, shape, TimeSeqLess{}, err) &&
            (!write_files ||
             writers_open(run, &w.writers, request_writer_threads(cpus, run.workers.num_vvm),
                          default_writer_settings(), err)) &&
            walk_merge(&w, &m, err);
  merge_end(&m);
  ok = ok && flush_batch(&w, true, err);
  if (write_files) writers_close(&w.writers);
  ok = ok && flush_rows(&w, err) && flush_users(&w, err);
  run_sort_release(&run.spill.by_time);
  return ok;
}
