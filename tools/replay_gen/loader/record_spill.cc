#include "tools/replay_gen/loader/record_spill.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/loader/record_state.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/memory_budget.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/spill/spill_dir.h"

namespace {

// A thread reports its accepted records in steps of this many.
constexpr uint64_t kReportStep = 64;
// Records converted and written at a time.
constexpr size_t kWriteChunk = 512;
// Half the budget goes to the loader threads' records; the rest is room for
// their growth and for the run state beside them.
constexpr uint64_t kLoaderShareDivisor = 2;

std::atomic_ref<int32_t> spilling() {
  return std::atomic_ref<int32_t>(run.spill.spilling);
}

void start_spilling() {
  int32_t expected = 0;
  if (!spilling().compare_exchange_strong(expected, 1)) return;
  char budget[32];
  format_size(run.spill.budget, budget, sizeof budget);
  info_log(run.log, 1, "  ",
           "Spill: the requests exceed the memory budget of %s; Steps 2 to 4 sort them in runs "
           "on disk, in %s",
           budget, spill_dir_make());
}

bool uid_time_before(const SeqData &a, const SeqData &b) {
  if (a.uid != b.uid) return a.uid < b.uid;
  if (a.time_stamp != b.time_stamp) return a.time_stamp < b.time_stamp;
  if (a.seq_index != b.seq_index) return a.seq_index < b.seq_index;
  return a.seq < b.seq;
}

LoadedRecord loaded_record(const SeqData &r, int16_t thread_id) {
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

uint64_t loader_thread_share(int num_threads) {
  // Each thread has two arrays: one it fills, one its side job writes.
  uint64_t share = run.spill.budget / kLoaderShareDivisor /
                   static_cast<uint64_t>(std::max(num_threads, 1)) / 2 / sizeof(SeqData);
  return std::max<uint64_t>(share, 16);
}

uint64_t loader_grow_step(uint64_t old_size) {
  if (!spilling().load(std::memory_order_relaxed)) return kSeqArrayGrowStep;
  uint64_t share = run.spill.loader_share;
  return old_size + 1 >= share ? 1 : std::min(kSeqArrayGrowStep, share - old_size);
}

bool run_spills(uint64_t accepted) {
  if (!spilling().load() && accepted > requests_within_budget()) start_spilling();
  return spilling().load() != 0;
}

void after_accepted_record(ThreadArgs *t, uint64_t seq_no) {
  if (!spilling().load(std::memory_order_relaxed)) {
    if (seq_no % kReportStep) return;
    uint64_t reported =
        std::atomic_ref<uint64_t>(run.spill.accepted_reported).fetch_add(kReportStep) + kReportStep;
    if (reported <= requests_within_budget()) return;
    start_spilling();
  }
  if (seq_no - t->t_array_base >= run.spill.loader_share) spill_thread_records(t, seq_no);
}

namespace {

// The side job of a loader thread: sorts the full array, writes it as one
// run and empties it for the thread's next turn with it.
void write_thread_run(void *arg) {
  auto *t = static_cast<ThreadArgs *>(arg);
  SeqData *recs = t->t_spill_arr;
  uint64_t n = t->t_spill_count;
  std::sort(recs, recs + n,
            [](const SeqData &a, const SeqData &b) { return uid_time_before(a, b); });
  SpillRun r = run_reserve(&run.spill.by_uid, n);
  LoadedRecord chunk[kWriteChunk];
  for (uint64_t done = 0; done < n;) {
    size_t k = static_cast<size_t>(std::min<uint64_t>(kWriteChunk, n - done));
    for (size_t i = 0; i < k; i++) chunk[i] = loaded_record(recs[done + i], t->thread_id);
    run_write(r, done, chunk, k);
    done += k;
  }
  memset(recs, 0, n * sizeof(SeqData));
  // An array that grew before the run began to spill gives back what is
  // beyond the share.
  uint64_t share = run.spill.loader_share;
  if (t->t_spill_cap > share) {
    if (auto *smaller = static_cast<SeqData *>(realloc(recs, share * sizeof(SeqData)))) {
      t->t_spill_arr = smaller;
      t->t_spill_cap = share;
    }
  }
}

}  // namespace

void spill_thread_records(ThreadArgs *t, uint64_t seq_no) {
  uint64_t n = seq_no - t->t_array_base;
  if (n == 0) return;
  // The array before this one is written and empty again: it takes the
  // thread's next records.
  side_job_wait(&t->t_side_job);
  if (!t->t_spill_arr) {
    t->t_spill_cap = run.spill.loader_share;
    t->t_spill_arr = static_cast<SeqData *>(calloc(t->t_spill_cap, sizeof(SeqData)));
    if (!t->t_spill_arr) {
      out_of_memory("load_input_data_files_t", "threadArgs[i].t_seq_data_arr",
                    static_cast<long long>(t->t_spill_cap * sizeof(SeqData)));
    }
  }
  std::swap(t->t_seq_data_arr, t->t_spill_arr);
  std::swap(t->t_max_sda_size, t->t_spill_cap);
  t->t_spill_count = n;
  t->t_array_base = seq_no;
  side_job_start(&t->t_side_job, write_thread_run, t);
}

void finish_thread_spills(ThreadArgs *t) {
  side_job_wait(&t->t_side_job);
  free(t->t_spill_arr);
  t->t_spill_arr = nullptr;
  t->t_spill_cap = 0;
}
