#include "tools/replay_gen/loader/parallel_loader.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "base/core/cpu_count.h"
#include "base/core/input_file.h"
#include "base/core/safe_file.h"
#include "tools/replay_gen/error_log_path.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/loader/record_errors.h"
#include "tools/replay_gen/loader/record_parser.h"
#include "tools/replay_gen/loader/record_spill.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/runtime_services.h"
#include "tools/replay_gen/services/service_map.h"
#include "tools/replay_gen/spill/spill_dir.h"

namespace {

constexpr const char *kFn = "load_input_data_files";
constexpr const char *kThreadFn = "load_input_data_files_t";

// Guards run.files.free_file_seq while the loader threads claim files.
pthread_mutex_t get_file_mutex = PTHREAD_MUTEX_INITIALIZER;

void *checked_calloc(size_t count, size_t size, const char *what) {
  void *mem = calloc(count, size);
  if (!mem && count && size) out_of_memory(kFn, what, static_cast<long long>(count * size));
  return mem;
}

int16_t choose_num_threads() {
  if (run.options.g_num_thread != 0) return run.options.g_num_thread;
  int num_cpu = vtlb_get_num_cpu();
  if (num_cpu == -1) {
    error_log(run.log, 1, kFn, "Failed to calculate number of cpu");
    vt_exit(-1);
  }
  int16_t num_threads = 1;
  set_num_threads(&num_threads, num_cpu, run.files.num_seq_files);
  return num_threads;
}

int32_t claim_next_file() {
  pthread_mutex_lock(&get_file_mutex);
  int32_t claimed =
      run.files.free_file_seq < run.files.num_seq_files ? run.files.free_file_seq++ : -1;
  pthread_mutex_unlock(&get_file_mutex);
  return claimed;
}

void open_error_log(ThreadArgs *t) {
  if (run.options.dry_run) return;  // the errors are still counted
  char path[kErrorLogPathSize];
  int n = snprintf(path, sizeof path, "%s/error.log.%d", run.config.replay_dir, t->thread_id);
  // check_error_log_path has made sure that the path fits.
  // A new file: whatever someone else put under this name is not written to.
  // Never writable by others, whatever the umask.
  int fd = n > 0 && static_cast<size_t>(n) < sizeof path
               ? vtlb_create_new_file(path, O_WRONLY, 0664)
               : -1;
  t->error_file_fp = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (!t->error_file_fp) {
    if (fd >= 0) close(fd);
    error_log(run.log, 2, kThreadFn, "Unable to create error log file");
    return;
  }
  fputs(kErrorLogHeader, t->error_file_fp);
}

FILE *open_input_file(const char *path) {
  // A named pipe put in place of a file since Step 1 must not hold the run
  // up: it is refused without waiting on it.
  std::string why;
  pthread_mutex_lock(descriptor_order_mutex());
  int fd = vtlb_open_regular_file(path, O_RDONLY, &why);
  int open_errno = errno;
  pthread_mutex_unlock(descriptor_order_mutex());
  errno = open_errno;
  if (fd < 0 && errno == EINVAL) {
    error_log(run.log, 1, kThreadFn, "Input file %s is not a regular file", path);
    vt_exit(-1);
  }
  FILE *fp = fd >= 0 ? fdopen(fd, "r") : nullptr;
  if (fp) {
    // The file is read twice (parsed here, bodies copied in Step 4) and only
    // read: its access time need not be kept up to date at every read. The
    // system refuses this for files of other owners, which then keep it.
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NOATIME);
    return fp;
  }
  int err = errno;
  if (fd >= 0) close(fd);
  error_log(run.log, 1, kThreadFn, "Unable to open file %s: %s", path, strerror(err));
  if (err == EMFILE || err == ENFILE)
    error_log(run.log, 1, kThreadFn,
              "Too many open files: every input file stays open until the run ends");
  vt_exit(-1);
}

void start_threads(ThreadArgs *args, pthread_t *tids, int num_threads) {
  // The threads look services up through the table's index and must find it
  // complete: they only read it.
  sync_service_index();
  run.spill.loader_share = loader_thread_share(num_threads);
  int num_predefined_services = run.services.num_service_file;
  for (int i = 0; i < num_threads; i++) {
    ThreadArgs &t = args[i];
    t.t_seq_data_arr = static_cast<SeqData *>(checked_calloc(
        run.config.g_msgcount_per_file, sizeof(SeqData), "threadArgs[i].t_seq_data_arr"));
    t.t_max_sda_size = t.t_seq_data_arr ? run.config.g_msgcount_per_file : 0;
    t.service_counter = static_cast<uint64_t *>(
        checked_calloc(num_predefined_services, sizeof(uint64_t), "threadArgs[i].service_counter"));
    t.thread_id = static_cast<int16_t>(i);
    if (pthread_create(&tids[i], nullptr, load_input_data_files_t, &t) != 0) {
      error_log(run.log, 1, kFn, "Failed to create Processing Thread[%d]", i);
      vt_exit(-1);
    }
    info_log(run.log, 1, "  ", "Processing Thread[%d] Started\n", i);
  }
}

void join_threads(pthread_t *tids, int num_threads) {
  for (int i = 0; i < num_threads; i++) {
    if (pthread_join(tids[i], nullptr) != 0) {
      error_log(run.log, 1, kFn, "Processing Thread[%d] Failed", i);
      vt_exit(-1);
    }
  }
}

void merge_counters_and_services(ThreadArgs *args, int num_threads,
                                 int16_t num_predefined_services) {
  add_runtime_services_in_file_order(args, num_threads);
  for (int i = 0; i < num_threads; i++) {
    ThreadArgs &t = args[i];
    run.counters.g_msgcount += t.t_msgcount;
    run.counters.g_valid_msgcount += t.t_valid_msgcount;
    run.counters.g_ignore_request += t.t_ignore_request;
    run.counters.g_no_xacustid_messages += t.t_no_xacustid_messages;
    run.counters.g_empty_xacustid_messages += t.t_empty_xacustid_messages;
    for (int c = 0; c < kNumRecordErrorCodes; c++)
      run.counters.g_rejected_by_code[c] += t.t_rejected_by_code[c];
    update_service_map_ptr(&t, num_predefined_services);
    info_log(run.log, 1, "  ", "Processing Thread[%d] Completed\n", i);
    if (run.log.debug_level)
      debug_log(run.log, 2, kFn,
                "Processing Thread[%d] Completed\n, valid_msg = %lu, invalid_request = "
                "%luignore_request = %lu, no_xacustid_messages = %lu, empty_xacustid_messages = "
                "%lu",
                i, t.t_valid_msgcount, t.t_invalid_request, t.t_ignore_request,
                t.t_no_xacustid_messages, t.t_empty_xacustid_messages);
  }
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "Number of services after updating from each thread= %hd",
              static_cast<int16_t>(run.services.num_service_file));
}

// Points every record of each thread at the service table and releases the
// thread's lists.
void remap_thread_records(ThreadArgs *args, int num_threads) {
  for (int i = 0; i < num_threads; i++) {
    ThreadArgs &t = args[i];
    remap_runtime_service_ids(&t, t.t_seq_data_arr, t.t_valid_msgcount);
    free_runtime_services(&t);
    free(t.service_counter);
    t.service_counter = nullptr;
  }
}

// The records go to seq_data_arr in file order, each file's in the order of
// its lines, whichever thread read the file: a thread's array holds the
// runs of the files it read, in the order it claimed them, which is list
// order. Thread 0's array becomes seq_data_arr, grown to the total; its runs
// move up to their places, the last first (a run never moves down, as every
// run before it in its array comes before it in file order too); then the
// other threads' runs fill the gaps, each array freed once copied, so the
// records are never held twice over.
void merge_records(ThreadArgs *args, int num_threads) {
  uint64_t total = run.counters.g_valid_msgcount;
  size_t bytes = total * sizeof(SeqData);
  if (total == 0) {
    for (int i = 0; i < num_threads; i++) {
      free(args[i].t_seq_data_arr);
      args[i].t_seq_data_arr = nullptr;
    }
    run.records.seq_data_arr = nullptr;
    return;
  }
  SeqData *all = static_cast<SeqData *>(realloc(args[0].t_seq_data_arr, bytes));
  if (!all) out_of_memory(kFn, "seq_data_arr", static_cast<int>(bytes));
  args[0].t_seq_data_arr = nullptr;
  run.records.seq_data_arr = all;
  const InputFileInfo *files = run.files.seq_file_path;
  uint64_t place = total, from = args[0].t_valid_msgcount;
  for (int32_t f = run.files.num_seq_files - 1; f >= 0; f--) {
    uint64_t count = files[f].num_accepted;
    place -= count;
    if (files[f].read_by_thread != 0) continue;
    from -= count;
    if (from != place) memmove(all + place, all + from, count * sizeof(SeqData));
  }
  // Records of each thread copied so far; thread 0's are in place.
  auto *copied = static_cast<uint64_t *>(
      checked_calloc(num_threads, sizeof(uint64_t), "records copied per thread"));
  place = 0;
  for (int32_t f = 0; f < run.files.num_seq_files; f++) {
    uint64_t count = files[f].num_accepted;
    ThreadArgs &t = args[files[f].read_by_thread];
    if (files[f].read_by_thread != 0 && count) {
      memcpy(all + place, t.t_seq_data_arr + copied[t.thread_id], count * sizeof(SeqData));
      copied[t.thread_id] += count;
      if (copied[t.thread_id] == t.t_valid_msgcount) {
        free(t.t_seq_data_arr);
        t.t_seq_data_arr = nullptr;
      }
    }
    place += count;
  }
  free(copied);
  for (int i = 1; i < num_threads; i++) {
    free(args[i].t_seq_data_arr);
    args[i].t_seq_data_arr = nullptr;
  }
  for (uint64_t q = 0; q < total; q++) all[q].seq = q;
}

// The merge of a run that spills: the records the threads still hold become
// runs of their own; the services of the threads' lists get their table
// indexes, which Step 3 applies as it reads the records back; and every
// input file gets the seq of its first record, which follows from the
// counts alone.
void merge_spilled_records(ThreadArgs *args, int num_threads) {
  run.spill.service_remap.assign(static_cast<size_t>(num_threads), {});
  for (int i = 0; i < num_threads; i++) {
    ThreadArgs &t = args[i];
    spill_thread_records(&t, t.t_valid_msgcount);
    finish_thread_spills(&t);
    free(t.t_seq_data_arr);
    t.t_seq_data_arr = nullptr;
    run.spill.service_remap[static_cast<size_t>(i)] = runtime_service_ids(&t);
    free_runtime_services(&t);
    free(t.service_counter);
    t.service_counter = nullptr;
  }
  run.spill.file_base.assign(static_cast<size_t>(run.files.num_seq_files), 0);
  uint64_t base = 0;
  for (int32_t f = 0; f < run.files.num_seq_files; f++) {
    run.spill.file_base[static_cast<size_t>(f)] = base;
    base += run.files.seq_file_path[f].num_accepted;
  }
  run.records.seq_data_arr = nullptr;
}

// The service id of every record in seq order, for the debug lines of
// level 4, when the records went to runs in uid/time order: each run is read
// once and every id written at its seq's place in a file of its own.
void print_spilled_service_ids() {
  SpillFile *ids = spill_file_create("service_ids");
  constexpr size_t kChunk = 4096;
  std::vector<LoadedRecord> recs(kChunk);
  for (const SpillRun &r : run.spill.by_uid.runs) {
    for (uint64_t done = 0; done < r.count;) {
      size_t k = static_cast<size_t>(std::min<uint64_t>(kChunk, r.count - done));
      spill_file_read(r.file, r.offset + done * sizeof(LoadedRecord), recs.data(),
                      k * sizeof(LoadedRecord));
      for (size_t i = 0; i < k; i++) {
        const LoadedRecord &l = recs[i];
        int16_t id = l.runtime_service == 1
                         ? run.spill.service_remap[static_cast<size_t>(l.thread_id)]
                                                  [static_cast<size_t>(l.service_id)]
                         : l.service_id;
        uint64_t seq = run.spill.file_base[l.seq_index] + l.place;
        spill_file_write(ids, seq * sizeof id, &id, sizeof id);
      }
      done += k;
    }
  }
  std::vector<int16_t> chunk(kChunk);
  for (uint64_t seq = 0; seq < run.counters.g_valid_msgcount;) {
    size_t k = static_cast<size_t>(std::min<uint64_t>(kChunk, run.counters.g_valid_msgcount - seq));
    spill_file_read(ids, seq * sizeof(int16_t), chunk.data(), k * sizeof(int16_t));
    for (size_t i = 0; i < k; i++)
      debug_log(run.log, 4, kFn, "------------seq_data_arr[seq_no].service_id = %d\n", chunk[i]);
    seq += k;
  }
  spill_file_close(ids);
}

void print_summary() {
  const char *fmt =
      "Summary: Total request processed = %'lu, Valid request = %'lu, Ignored = %'lu, Missing "
      "custid = %'lu (No custid = %'lu, Empty custid = %'lu)";
  char line[512];
  snprintf(line, sizeof line, fmt, run.counters.g_msgcount, run.counters.g_valid_msgcount,
           run.counters.g_ignore_request, run.counters.g_no_xacustid_messages,
           run.counters.g_no_xacustid_messages - run.counters.g_empty_xacustid_messages,
           run.counters.g_empty_xacustid_messages);
  info_log(run.log, 1, "  ", "%s\n", line);
  if (run.log.debug_level) {
    debug_log(run.log, 1, kFn, "%s", line);
    if (run.spill.spilling && run.log.debug_level >= 4) print_spilled_service_ids();
    for (uint64_t i = 0; run.records.seq_data_arr && i < run.counters.g_valid_msgcount; i++)
      debug_log(run.log, 4, kFn, "------------seq_data_arr[seq_no].service_id = %d\n",
                run.records.seq_data_arr[i].service_id);
  }
}

}  // namespace

void set_num_threads(int16_t *num_thread, int num_cpu, int num_files) {
  // No more than -n may ask for: the error log paths were checked for that
  // many, and the count must fit its 16 bits.
  if (num_cpu > 7 && num_files >= num_cpu - 4)
    *num_thread = static_cast<int16_t>(std::min(num_cpu - 4, kMaxLoaderThreads));
  else if (num_cpu > 3 && num_files >= num_cpu - 2)
    *num_thread = static_cast<int16_t>(num_cpu - 2);
  else
    *num_thread = 1;
}

void *load_input_data_files_t(void *argv) {
  auto *t = static_cast<ThreadArgs *>(argv);
  int id = t->thread_id;
  open_error_log(t);
  uint64_t seq_no = 0;
  int16_t files_done = 0;
  for (int32_t cur = claim_next_file(); cur != -1; cur = claim_next_file()) {
    const char *path = run.files.seq_file_path[cur].input_file;
    if (run.log.debug_level) {
      debug_log(run.log, 2, kThreadFn, "Processing Thread[%d]:file to process = %s", id, path);
      debug_log(run.log, 2, kThreadFn, "Processing Thread[%d]: processing seq file = %s\n", id,
                path);
    }
    FILE *fp = open_input_file(path);
    uint64_t before = t->t_msgcount, first_record = seq_no;
    InputFileInfo &file = run.files.seq_file_path[cur];
    file.first_local_seq = first_record;
    file.input_fp = fp;
    load_sequence_file_new(t, path, fp, &seq_no, cur);
    file.msgcount = static_cast<int32_t>(t->t_msgcount - before);
    file.read_by_thread = t->thread_id;
    file.num_accepted = seq_no - first_record;
    if (run.log.debug_level)
      debug_log(run.log, 2, kThreadFn,
                "Processing Thread[%d]: seq file %s processed, total msgcount = %lu", id, path,
                t->t_msgcount);
    files_done++;
  }
  t->t_valid_msgcount = seq_no;
  // A run that spills by now takes the thread's last records as a run of
  // their own, sorted here, beside the other threads.
  if (std::atomic_ref<int32_t>(run.spill.spilling).load()) spill_thread_records(t, seq_no);
  finish_thread_spills(t);
  if (run.log.debug_level)
    debug_log(run.log, 2, kThreadFn,
              "Processing Thread[%d]: thread completed, total file processed = %hd", id,
              files_done);
  // A line that could not be written leaves the stream's error flag set.
  if (t->error_file_fp) {
    bool failed = ferror(t->error_file_fp) != 0;
    if (fclose(t->error_file_fp) != 0) failed = true;
    if (failed) {
      error_log(run.log, 1, kThreadFn, "Error in writing error log file %s/error.log.%d: %s",
                run.config.replay_dir, id, strerror(errno));
      vt_exit(-1);
    }
  }
  t->error_file_fp = nullptr;
  return nullptr;
}

void load_input_data_files() {
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "num_seq_files = %d", run.files.num_seq_files);
  int num_threads = choose_num_threads();
  check_error_log_path(num_threads, kFn);
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "Seq Dara Array per thread = %lu (g_msgcount_per_file = %lu)",
              run.config.g_msgcount_per_file, run.config.g_msgcount_per_file);
  info_log(run.log, 1, "  ", "Number of threads to process request files= %d\n", num_threads);

  auto *tids =
      static_cast<pthread_t *>(checked_calloc(num_threads, sizeof(pthread_t), "Thread Ids"));
  auto *args = static_cast<ThreadArgs *>(
      checked_calloc(num_threads, sizeof(ThreadArgs), "Thread Arguments"));
  int16_t num_predefined_services = static_cast<int16_t>(run.services.num_service_file);
  start_threads(args, tids, num_threads);
  join_threads(tids, num_threads);

  uint64_t accepted = 0;
  for (int i = 0; i < num_threads; i++) accepted += args[i].t_valid_msgcount;
  bool spills = run_spills(accepted);
  merge_counters_and_services(args, num_threads, num_predefined_services);
  if (spills) {
    merge_spilled_records(args, num_threads);
  } else {
    remap_thread_records(args, num_threads);
    merge_records(args, num_threads);
  }
  free(args);
  free(tids);
  print_summary();
}

void print_log_file_info() {
  info_log(run.log, 1, "  ", "Log files information:");
  info_log(run.log, 1, "    ", "Filename\t\t\t\t\tTotal Requests\t");
  for (int32_t i = 0; i < run.files.num_seq_files; i++)
    info_log(run.log, 1, "    ", "%-30s\t\t%'d", run.files.seq_file_path[i].input_file,
             run.files.seq_file_path[i].msgcount);
  info_log(run.log, 1, "    ", "\t\t\t\tTotal: \t\t%'lu", run.counters.g_msgcount);
}
