// Writer threads of Step 4. Each thread takes the workers w with
// w % threads == its index, one after the other, and appends each worker's
// entries of the batch in time order through its own output buffer
// (request_sink.h).
#include "tools/replay_gen/output/request_writer.h"

#include <pthread.h>
#include <string.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_sink.h"
#include "tools/replay_gen/run_state.h"

namespace {

const char *const kFname = "process_sequence_data_new";

struct WriterThread {
  pthread_t tid;
  int index;
  RequestWriters *writers;
  const SeqData *recs;
  const uint8_t *entry_worker;
  uint64_t n;
  bool last;
  // What a vt_exit hook threw in this thread (unit tests only: the run's
  // vt_exit never returns); the main thread raises it again after the join.
  std::exception_ptr failure;
};

void write_worker(const WriterThread &t, int w) {
  EntrySink &out = t.writers->sinks[static_cast<size_t>(w)];
  out.stage = &t.writers->stages[static_cast<size_t>(t.index)];
  const uint8_t *end = t.entry_worker + t.n;
  auto next_entry = [&](const uint8_t *from) {
    return static_cast<const uint8_t *>(memchr(from, w, static_cast<size_t>(end - from)));
  };
  const uint8_t *at = next_entry(t.entry_worker);
  while (at) {
    // The system calls of an entry push the records out of the processor's
    // caches: the next one is fetched while this entry is being written.
    const uint8_t *next = at + 1 < end ? next_entry(at + 1) : nullptr;
    if (next) __builtin_prefetch(&t.recs[next - t.entry_worker]);
    write_entry(&out, t.recs[at - t.entry_worker]);
    at = next;
  }
  // The buffer serves the thread's next worker.
  if (t.last) {
    finish_entries(&out);
    vtlb_digest_final(&out.digest, run.manifest.request_digest[w]);
  } else {
    flush_entries(&out);
  }
}

void *writer_main(void *arg) {
  auto *t = static_cast<WriterThread *>(arg);
  try {
    for (int w = t->index; w < run.workers.num_vvm; w += t->writers->threads) write_worker(*t, w);
  } catch (...) {
    t->failure = std::current_exception();
  }
  return nullptr;
}

void join_writers(std::vector<WriterThread> &writers, int started) {
  for (int i = 0; i < started; i++) {
    if (pthread_join(writers[i].tid, nullptr) != 0) {
      error_log(1, kFname, "Request Writer Thread[%d] Failed", i);
      vt_exit(-1);
    }
  }
}

}  // namespace

int request_writer_threads(int num_cpu, int workers) {
  return std::max(1, std::min(num_cpu, workers));
}

void writers_open(RequestWriters *w, int threads, const WriterSettings &settings) {
  if (run.log.debug_level) debug_log(5, kFname, "request writer threads = %d", threads);
  w->threads = threads;
  w->stages.assign(static_cast<size_t>(threads), RequestStage{nullptr, 0, 0});
  for (RequestStage &stage : w->stages) stage_open(&stage, settings.buffer_size);
  w->sinks.clear();
  for (int v = 0; v < run.workers.num_vvm; v++) {
    w->sinks.push_back(EntrySink{run.workers.vvm_list[v].vt_req_file_fd, v, nullptr,
                                 settings.kernel_copy_from, false, 0, 0, 0, {}, {}});
    vtlb_digest_init(&w->sinks.back().digest);
  }
}

void write_request_batch(RequestWriters *w, const SeqData *recs, const uint8_t *entry_worker,
                         uint64_t n, bool last) {
  std::vector<WriterThread> threads(static_cast<size_t>(w->threads));
  for (int i = 0; i < w->threads; i++) {
    WriterThread &t = threads[static_cast<size_t>(i)];
    t.index = i;
    t.writers = w;
    t.recs = recs;
    t.entry_worker = entry_worker;
    t.n = n;
    t.last = last;
    if (pthread_create(&t.tid, nullptr, writer_main, &t) != 0) {
      join_writers(threads, i);
      error_log(1, kFname, "Failed to create Request Writer Thread[%d]", i);
      vt_exit(-1);
    }
  }
  join_writers(threads, w->threads);
  for (const WriterThread &t : threads)
    if (t.failure) std::rethrow_exception(t.failure);
}

void writers_close(RequestWriters *w) {
  for (RequestStage &stage : w->stages) stage_close(&stage);
  w->stages.clear();
  w->sinks.clear();
}

void write_request_files(const uint8_t *entry_worker, uint64_t n, int threads,
                         const WriterSettings &settings) {
  RequestWriters w;
  writers_open(&w, threads, settings);
  try {
    write_request_batch(&w, run.records.seq_data_arr, entry_worker, n, true);
  } catch (...) {
    // A vt_exit hook's exception (unit tests): the buffers go with it.
    writers_close(&w);
    throw;
  }
  writers_close(&w);
}
