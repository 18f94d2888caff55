// External sorting: sorted runs of fixed-size records written to spill
// files, merged with a bounded fan-in, in as many passes as it takes. The
// record types and their orders are in spill_records.h; every order is
// total, so the merged order is the one an in-memory sort by the same key
// would give, whatever the runs were.
#ifndef VT_REPLAY_GEN_SPILL_RUN_SORT_H_
#define VT_REPLAY_GEN_SPILL_RUN_SORT_H_

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <vector>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/spill/spill_file.h"

struct RunState;

// Records start-count of one sorted run, at offset in file.
struct SpillRun {
  SpillFile *file;
  uint64_t offset;
  uint64_t count;
};

// The runs of one sort. New runs go to `out`; a merge pass moves every run
// into a new file and closes the old one, so a sort holds at most two files
// open.
template <typename Rec>
struct RunSort {
  const char *what = "runs";  // names its files
  std::vector<SpillRun> runs;
  SpillFile *out = nullptr;
  int passes = 0;
};

template <typename Rec>
RunSort<Rec> named_run_sort(const char *what) {
  RunSort<Rec> s;
  s.what = what;
  return s;
}

// How a merge uses its memory: fan_in runs at once, each read block by block.
struct MergeShape {
  size_t fan_in;
  size_t block_records;
};

constexpr size_t kMaxFanIn = 64;
constexpr size_t kMinBlockBytes = 1024;
constexpr size_t kMaxBlockBytes = 256 * 1024;

// The shape of a merge of rec_size records in share bytes: blocks of
// kMinBlockBytes to kMaxBlockBytes, one per input run and one for the
// output, and between 2 and kMaxFanIn runs.
inline MergeShape merge_shape(uint64_t share, size_t rec_size) {
  uint64_t block = std::clamp<uint64_t>(share / (kMaxFanIn + 1), std::max(kMinBlockBytes, rec_size),
                                        std::max(kMaxBlockBytes, rec_size));
  uint64_t fan_in = std::clamp<uint64_t>(share / block, 3, kMaxFanIn + 1) - 1;
  return MergeShape{static_cast<size_t>(fan_in), static_cast<size_t>(block / rec_size)};
}

// Guards the run lists while loader threads add runs.
inline pthread_mutex_t *run_list_mutex() {
  static pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  return &mutex;
}

// Places a run of count records at the end of the sort's file (made when
// first needed) and lists it in *r; threads may call this side by side.
template <typename Rec>
bool run_reserve(RunState &run, RunSort<Rec> *s, uint64_t count, SpillRun *r, Failure *err) {
  pthread_mutex_lock(run_list_mutex());
  if (!s->out) s->out = spill_file_create(run, s->what, err);
  bool ok = s->out != nullptr;
  if (ok) {
    *r = SpillRun{s->out, spill_file_reserve(s->out, count * sizeof(Rec)), count};
    s->runs.push_back(*r);
  }
  pthread_mutex_unlock(run_list_mutex());
  return ok;
}

// Writes records first .. first + n - 1 of a reserved run.
template <typename Rec>
bool run_write(const SpillRun &r, uint64_t first, const Rec *recs, size_t n, Failure *err) {
  return !n || spill_file_write(r.file, r.offset + first * sizeof(Rec), recs, n * sizeof(Rec), err);
}

// Sorts n records and writes them as one run.
template <typename Rec, typename Less>
bool sort_into_run(RunState &run, RunSort<Rec> *s, Rec *recs, size_t n, Less less, Failure *err) {
  if (n == 0) return true;
  std::sort(recs, recs + n, less);
  SpillRun r;
  return run_reserve(run, s, n, &r, err) && run_write(r, 0, recs, n, err);
}

// One run being read.
template <typename Rec>
struct RunCursor {
  SpillRun run;
  uint64_t read;  // records of the run read so far
  Rec *block;
  size_t len, pos;
};

// A merge of some runs: the smallest record first.
template <typename Rec, typename Less>
struct RunMerge {
  std::vector<RunCursor<Rec>> cursors;
  std::vector<uint32_t> heap;  // cursors with records left, smallest on top
  std::vector<Rec> blocks;
  size_t block_records = 0;
  Less less;
};

template <typename Rec, typename Less>
bool merge_before(const RunMerge<Rec, Less> &m, uint32_t a, uint32_t b) {
  const RunCursor<Rec> &x = m.cursors[a], &y = m.cursors[b];
  const Rec &rx = x.block[x.pos], &ry = y.block[y.pos];
  if (m.less(rx, ry)) return true;
  if (m.less(ry, rx)) return false;
  return a < b;
}

template <typename Rec, typename Less>
void merge_sift_down(RunMerge<Rec, Less> *m, size_t at) {
  std::vector<uint32_t> &h = m->heap;
  size_t n = h.size();
  for (;;) {
    size_t least = at, l = 2 * at + 1, r = l + 1;
    if (l < n && merge_before(*m, h[l], h[least])) least = l;
    if (r < n && merge_before(*m, h[r], h[least])) least = r;
    if (least == at) return;
    std::swap(h[at], h[least]);
    at = least;
  }
}

// Reads the cursor's next block; *filled false when its run is used up.
template <typename Rec>
bool cursor_fill(RunCursor<Rec> *c, size_t block_records, bool *filled, Failure *err) {
  uint64_t left = c->run.count - c->read;
  *filled = left != 0;
  if (left == 0) return true;
  size_t n = static_cast<size_t>(std::min<uint64_t>(left, block_records));
  if (!spill_file_read(c->run.file, c->run.offset + c->read * sizeof(Rec), c->block,
                       n * sizeof(Rec), err))
    return false;
  c->read += n;
  c->len = n;
  c->pos = 0;
  return true;
}

template <typename Rec, typename Less>
bool merge_begin(RunMerge<Rec, Less> *m, const SpillRun *runs, size_t n, size_t block_records,
                 Less less, Failure *err) {
  m->less = less;
  m->block_records = std::max<size_t>(block_records, 1);
  m->blocks.assign(n * m->block_records, Rec{});
  m->cursors.assign(n, RunCursor<Rec>{});
  m->heap.clear();
  for (size_t i = 0; i < n; i++) {
    RunCursor<Rec> &c = m->cursors[i];
    c = RunCursor<Rec>{runs[i], 0, m->blocks.data() + i * m->block_records, 0, 0};
    bool filled;
    if (!cursor_fill(&c, m->block_records, &filled, err)) return false;
    if (filled) m->heap.push_back(static_cast<uint32_t>(i));
  }
  for (size_t i = m->heap.size(); i-- > 0;) merge_sift_down(m, i);
  return true;
}

// The smallest record not yet taken, or null when none is left.
template <typename Rec, typename Less>
const Rec *merge_top(const RunMerge<Rec, Less> &m) {
  if (m.heap.empty()) return nullptr;
  const RunCursor<Rec> &c = m.cursors[m.heap[0]];
  return &c.block[c.pos];
}

// Takes the smallest record.
template <typename Rec, typename Less>
bool merge_pop(RunMerge<Rec, Less> *m, Failure *err) {
  RunCursor<Rec> &c = m->cursors[m->heap[0]];
  bool filled = true;
  if (++c.pos == c.len && !cursor_fill(&c, m->block_records, &filled, err)) return false;
  if (!filled) {
    m->heap[0] = m->heap.back();
    m->heap.pop_back();
  }
  if (!m->heap.empty()) merge_sift_down(m, 0);
  return true;
}

template <typename Rec, typename Less>
void merge_end(RunMerge<Rec, Less> *m) {
  m->cursors = {};
  m->heap = {};
  m->blocks = {};
}

// Merges runs until at most shape.fan_in are left, every pass moving all
// runs into a new file, groups of fan_in runs at a time.
template <typename Rec, typename Less>
bool reduce_runs(RunState &run, RunSort<Rec> *s, const MergeShape &shape, Less less, Failure *err) {
  while (s->runs.size() > shape.fan_in) {
    SpillFile *next = spill_file_create(run, s->what, err);
    if (!next) return false;
    std::vector<SpillRun> merged;
    std::vector<Rec> out(shape.block_records);
    bool ok = true;
    for (size_t g = 0; ok && g < s->runs.size(); g += shape.fan_in) {
      size_t k = std::min(shape.fan_in, s->runs.size() - g);
      uint64_t count = 0;
      for (size_t i = g; i < g + k; i++) count += s->runs[i].count;
      SpillRun r{next, spill_file_reserve(next, count * sizeof(Rec)), count};
      RunMerge<Rec, Less> m;
      ok = merge_begin(&m, &s->runs[g], k, shape.block_records, less, err);
      uint64_t written = 0;
      size_t used = 0;
      while (ok && merge_top(m)) {
        out[used++] = *merge_top(m);
        ok = merge_pop(&m, err);
        if (ok && used == out.size()) {
          ok = run_write(r, written, out.data(), used, err);
          written += used;
          used = 0;
        }
      }
      ok = ok && run_write(r, written, out.data(), used, err);
      merge_end(&m);
      merged.push_back(r);
    }
    spill_file_close(s->out);
    s->out = next;
    s->runs = std::move(merged);
    if (!ok) return false;
    s->passes++;
  }
  return true;
}

// Starts a merge of all the sort's runs, first merging them in passes until
// no more are left than one merge may read at a time.
template <typename Rec, typename Less>
bool merge_all_runs(RunState &run, RunMerge<Rec, Less> *m, RunSort<Rec> *s, const MergeShape &shape,
                    Less less, Failure *err) {
  return reduce_runs(run, s, shape, less, err) &&
         merge_begin(m, s->runs.data(), s->runs.size(), shape.block_records, less, err);
}

// Closes the sort's file and forgets its runs; the count of passes stays.
template <typename Rec>
void run_sort_release(RunSort<Rec> *s) {
  spill_file_close(s->out);
  int passes = s->passes;
  *s = named_run_sort<Rec>(s->what);
  s->passes = passes;
}

#endif  // VT_REPLAY_GEN_SPILL_RUN_SORT_H_
