// Writer threads of Step 4. Each thread takes the workers w with
// w % threads == its index, one after the other, and appends each worker's
// entries of the batch in time order through its own output buffer
// (request_sink.h).
#include "tools/replay_gen/output/request_writer.h"

#include <pthread.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_sink.h"
#include "tools/replay_gen/trace_names.h"

namespace {

const char *const kFname = trace_name::kProcessSequenceData;

struct WriterThread {
  pthread_t tid;
  int index;
  RequestWriters *writers;
  const SeqData *recs;
  const uint8_t *entry_worker;
  uint64_t n;
  bool last;
  std::atomic<bool> *stop;  // set once a thread failed: the others stop too
  Failure failure;
};

bool write_worker(WriterThread &t, int w) {
  RunState &run = *t.writers->run;
  EntrySink &out = t.writers->sinks[static_cast<size_t>(w)];
  out.stage = &t.writers->stages[static_cast<size_t>(t.index)];
  const uint8_t *end = t.entry_worker + t.n;
  auto next_entry = [&](const uint8_t *from) {
    return static_cast<const uint8_t *>(memchr(from, w, static_cast<size_t>(end - from)));
  };
  const uint8_t *at = next_entry(t.entry_worker);
  while (at) {
    if (t.stop->load(std::memory_order_relaxed)) return true;
    // The system calls of an entry push the records out of the processor's
    // caches: the next one is fetched while this entry is being written.
    const uint8_t *next = at + 1 < end ? next_entry(at + 1) : nullptr;
    if (next) __builtin_prefetch(&t.recs[next - t.entry_worker]);
    if (!write_entry(&out, t.recs[at - t.entry_worker], &t.failure)) return false;
    at = next;
  }
  // The buffer serves the thread's next worker.
  if (!t.last) return flush_entries(&out, &t.failure);
  if (!finish_entries(&out, &t.failure)) return false;
  vtlb_digest_final(&out.digest, run.manifest.request_digest[w]);
  return true;
}

void *writer_main(void *arg) {
  auto *t = static_cast<WriterThread *>(arg);
  int workers = t->writers->run->workers.num_vvm;
  for (int w = t->index; w < workers && !t->stop->load(); w += t->writers->threads)
    if (!write_worker(*t, w)) t->stop->store(true);
  return nullptr;
}

// Joins the threads started; the first that cannot be joined is the
// batch's failure, then the lowest thread's that failed.
bool join_writers(std::vector<WriterThread> &writers, int started, Failure *err) {
  bool joined = true;
  for (int i = 0; i < started; i++)
    if (pthread_join(writers[i].tid, nullptr) != 0 && joined)
      joined = fail(err, kFname, "Request Writer Thread[%d] Failed", i);
  if (!joined) return false;
  for (int i = 0; i < started; i++) {
    if (writers[i].failure.status == 0) continue;
    *err = writers[i].failure;
    return false;
  }
  return true;
}

}  // namespace

int request_writer_threads(int num_cpu, int workers) {
  return std::max(1, std::min(num_cpu, workers));
}

bool writers_open(RunState &run, RequestWriters *w, int threads, const WriterSettings &settings,
                  Failure *err) {
  if (run.log.debug_level) debug_log(run.log, 5, kFname, "request writer threads = %d", threads);
  w->run = &run;
  w->threads = threads;
  w->stages.assign(static_cast<size_t>(threads), RequestStage{nullptr, 0, 0});
  for (RequestStage &stage : w->stages)
    if (!stage_open(&stage, settings.buffer_size, err)) return false;
  w->sinks.clear();
  for (int v = 0; v < run.workers.num_vvm; v++) {
    w->sinks.push_back(EntrySink{&run,
                                 run.workers.vvm_list[v].vt_req_file_fd,
                                 v,
                                 nullptr,
                                 settings.kernel_copy_from,
                                 false,
                                 0,
                                 0,
                                 0,
                                 {},
                                 {}});
    vtlb_digest_init(&w->sinks.back().digest);
  }
  return true;
}

bool write_request_batch(RequestWriters *w, const SeqData *recs, const uint8_t *entry_worker,
                         uint64_t n, bool last, Failure *err) {
  std::vector<WriterThread> threads(static_cast<size_t>(w->threads));
  std::atomic<bool> stop{false};
  for (int i = 0; i < w->threads; i++) {
    WriterThread &t = threads[static_cast<size_t>(i)];
    t.index = i;
    t.writers = w;
    t.recs = recs;
    t.entry_worker = entry_worker;
    t.n = n;
    t.last = last;
    t.stop = &stop;
    if (pthread_create(&t.tid, nullptr, writer_main, &t) != 0) {
      // The threads started write their workers whole before the run ends.
      Failure ignored;
      join_writers(threads, i, &ignored);
      return fail(err, kFname, "Failed to create Request Writer Thread[%d]", i);
    }
  }
  return join_writers(threads, w->threads, err);
}

void writers_close(RequestWriters *w) {
  for (RequestStage &stage : w->stages) stage_close(&stage);
  w->stages.clear();
  w->sinks.clear();
}

bool write_request_files(RunState &run, const uint8_t *entry_worker, uint64_t n, int threads,
                         const WriterSettings &settings, Failure *err) {
  RequestWriters w;
  bool ok = writers_open(run, &w, threads, settings, err) &&
            write_request_batch(&w, run.records.seq_data_arr, entry_worker, n, true, err);
  writers_close(&w);
  return ok;
}
