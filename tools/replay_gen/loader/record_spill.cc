#include "tools/replay_gen/loader/record_spill.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>

#include "tools/replay_gen/loader/record_state.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/memory_budget.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/spill/spill_dir.h"
#include "tools/replay_gen/trace_names.h"

namespace {

// A thread reports its accepted records in steps of this many.
constexpr uint64_t kReportStep = 64;
// Records converted and written at a time.
constexpr size_t kWriteChunk = 512;
// Half the budget goes to the loader threads' records; the rest is room for
// their growth and for the run state beside them.
constexpr uint64_t kLoaderShareDivisor = 2;

std::atomic_ref<int32_t> spilling(const RunState &run) {
  return std::atomic_ref<int32_t>(const_cast<int32_t &>(run.spill.spilling));
}

bool start_spilling(RunState &run, Failure *err) {
  int32_t expected = 0;
  if (!spilling(run).compare_exchange_strong(expected, 1)) return true;
  char budget[32];
  format_size(run.spill.budget, budget, sizeof budget);
  const char *dir = spill_dir_make(run, err);
  if (!dir) return false;
  info_log(run.log, 1, "  ",
           "Spill: the requests exceed the memory budget of %s; Steps 2 to 4 sort them in runs "
           "on disk, in %s",
           budget, dir);
  return true;
}

bool uid_time_before(const SeqData &a, const SeqData &b) {
  if (a.uid != b.uid) return a.uid < b.uid;
  if (a.time_stamp != b.time_stamp) return a.time_stamp < b.time_stamp;
  if (a.seq_index != b.seq_index) return a.seq_index < b.seq_index;
  return a.seq < b.seq;
}

LoadedRecord loaded_record(const RunState &run, const SeqData &r, int16_t thread_id) {
  LoadedRecord l{};
  l.time_stamp = r.time_stamp;
  l.uid = r.uid;
  l.place = r.seq - run.files.seq_file_path[r.seq_index].first_local_seq;
  l.req_offset = r.req_offset;
  l.req_size = r.req_size;
  l.seq_index = r.seq_index;
  l.creation_ts_offset = r.creation_ts_offset;
  l.service_id = r.service_id;
  l.creation_ts_size = r.creation_ts_size;
  l.thread_id = thread_id;
  l.type = r.type;
  l.runtime_service = r.runtime_service;
  return l;
}

}  // namespace

uint64_t loader_thread_share(const RunState &run, int num_threads) {
  // Each thread has two arrays: one it fills, one its side job writes.
  uint64_t share = run.spill.budget / kLoaderShareDivisor /
                   static_cast<uint64_t>(std::max(num_threads, 1)) / 2 / sizeof(SeqData);
  return std::max<uint64_t>(share, 16);
}

uint64_t loader_grow_step(const RunState &run, uint64_t old_size) {
  if (!spilling(run).load(std::memory_order_relaxed)) return kSeqArrayGrowStep;
  uint64_t share = run.spill.loader_share;
  return old_size + 1 >= share ? 1 : std::min(kSeqArrayGrowStep, share - old_size);
}

bool run_spills(RunState &run, uint64_t accepted, bool *spills, Failure *err) {
  if (!spilling(run).load() && accepted > requests_within_budget(run) && !start_spilling(run, err))
    return false;
  *spills = spilling(run).load() != 0;
  return true;
}

bool after_accepted_record(RunState &run, ThreadArgs *t, uint64_t seq_no, Failure *err) {
  if (!spilling(run).load(std::memory_order_relaxed)) {
    if (seq_no % kReportStep) return true;
    uint64_t reported =
        std::atomic_ref<uint64_t>(run.spill.accepted_reported).fetch_add(kReportStep) + kReportStep;
    if (reported <= requests_within_budget(run)) return true;
    if (!start_spilling(run, err)) return false;
  }
  if (seq_no - t->array_base >= run.spill.loader_share)
    return spill_thread_records(run, t, seq_no, err);
  return true;
}

namespace {

// The side job of a loader thread: sorts the full array, writes it as one
// run and empties it for the thread's next turn with it. What fails goes to
// the thread's spill_failure.
void write_thread_run(void *arg) {
  auto *t = static_cast<ThreadArgs *>(arg);
  RunState &run = *t->run;
  SeqData *recs = t->spill_arr;
  uint64_t n = t->spill_count;
  std::sort(recs, recs + n,
            [](const SeqData &a, const SeqData &b) { return uid_time_before(a, b); });
  SpillRun r;
  if (!run_reserve(run, &run.spill.by_uid, n, &r, t->spill_failure)) return;
  LoadedRecord chunk[kWriteChunk];
  for (uint64_t done = 0; done < n;) {
    size_t k = static_cast<size_t>(std::min<uint64_t>(kWriteChunk, n - done));
    for (size_t i = 0; i < k; i++) chunk[i] = loaded_record(run, recs[done + i], t->thread_id);
    if (!run_write(r, done, chunk, k, t->spill_failure)) return;
    done += k;
  }
  memset(recs, 0, n * sizeof(SeqData));
  // An array that grew before the run began to spill gives back what is
  // beyond the share.
  uint64_t share = run.spill.loader_share;
  if (t->spill_cap > share) {
    if (auto *smaller = static_cast<SeqData *>(realloc(recs, share * sizeof(SeqData)))) {
      t->spill_arr = smaller;
      t->spill_cap = share;
    }
  }
}

// Waits for the side job; false, with *err, when it failed.
bool wait_side_job(ThreadArgs *t, Failure *err) {
  side_job_wait(&t->side_job);
  if (t->spill_failure->status == 0) return true;
  *err = *t->spill_failure;
  return false;
}

}  // namespace

bool spill_thread_records(RunState &run, ThreadArgs *t, uint64_t seq_no, Failure *err) {
  uint64_t n = seq_no - t->array_base;
  if (n == 0) return true;
  // The array before this one is written and empty again: it takes the
  // thread's next records.
  if (!wait_side_job(t, err)) return false;
  if (!t->spill_arr) {
    t->spill_cap = run.spill.loader_share;
    t->spill_arr = static_cast<SeqData *>(calloc(t->spill_cap, sizeof(SeqData)));
    if (!t->spill_arr)
      return out_of_memory(err, trace_name::kLoaderThread, "threadArgs[i].t_seq_data_arr",
                           static_cast<long long>(t->spill_cap * sizeof(SeqData)));
  }
  std::swap(t->t_seq_data_arr, t->spill_arr);
  std::swap(t->t_max_sda_size, t->spill_cap);
  t->spill_count = n;
  t->array_base = seq_no;
  side_job_start(&t->side_job, write_thread_run, t);
  return true;
}

bool finish_thread_spills(ThreadArgs *t, Failure *err) {
  bool ok = wait_side_job(t, err);
  free(t->spill_arr);
  t->spill_arr = nullptr;
  t->spill_cap = 0;
  return ok;
}
