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
#include "tools/replay_gen/loader/loader_merge.h"
#include "tools/replay_gen/loader/record_errors.h"
#include "tools/replay_gen/loader/record_parser.h"
#include "tools/replay_gen/loader/record_spill.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/runtime_services.h"
#include "tools/replay_gen/services/service_map.h"
#include "tools/replay_gen/spill/spill_dir.h"
#include "tools/replay_gen/trace_names.h"

namespace {

constexpr const char *kFn = "load_input_data_files";
constexpr const char *kThreadFn = trace_name::kLoaderThread;

// Guards run.files.free_file_seq while the loader threads claim files.
pthread_mutex_t get_file_mutex = PTHREAD_MUTEX_INITIALIZER;

bool choose_num_threads(const RunState &run, int16_t *num_threads, Failure *err) {
  *num_threads = run.options.g_num_thread;
  if (*num_threads != 0) return true;
  int num_cpu = run.options.num_cpu ? run.options.num_cpu : vtlb_get_num_cpu();
  if (num_cpu == -1) return fail(err, kFn, "Failed to calculate number of cpu");
  set_num_threads(num_threads, num_cpu, run.files.num_seq_files);
  return true;
}

int32_t claim_next_file(RunState &run) {
  pthread_mutex_lock(&get_file_mutex);
  int32_t claimed =
      run.files.free_file_seq < run.files.num_seq_files ? run.files.free_file_seq++ : -1;
  pthread_mutex_unlock(&get_file_mutex);
  return claimed;
}

void open_error_log(const RunState &run, ThreadArgs *t) {
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

// The input file at path, open to read; null with *err when it cannot be.
FILE *open_input_file(const char *path, Failure *err) {
  // A named pipe put in place of a file since Step 1 must not hold the run
  // up: it is refused without waiting on it.
  std::string why;
  pthread_mutex_lock(descriptor_order_mutex());
  int fd = vtlb_open_regular_file(path, O_RDONLY, &why);
  int open_errno = errno;
  pthread_mutex_unlock(descriptor_order_mutex());
  if (fd < 0 && open_errno == EINVAL) {
    fail(err, kThreadFn, "Input file %s is not a regular file", path);
    return nullptr;
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
  int error = fd >= 0 ? errno : open_errno;
  if (fd >= 0) close(fd);
  fail(err, kThreadFn, "Unable to open file %s: %s", path, strerror(error));
  if (error == EMFILE || error == ENFILE)
    fail(err, kThreadFn, "Too many open files: every input file stays open until the run ends");
  return nullptr;
}

// The files the thread claims, one by one; false, with its failure, when one
// cannot be read or a record kept. Stops early, and true, once another
// thread failed.
bool load_claimed_files(ThreadArgs *t) {
  RunState &run = *t->run;
  Failure *err = t->failure;
  int id = t->thread_id;
  open_error_log(run, t);
  uint64_t seq_no = 0;
  int16_t files_done = 0;
  for (int32_t cur = claim_next_file(run); cur != -1; cur = claim_next_file(run)) {
    if (t->stop->load()) return true;
    InputFileInfo &file = run.files.seq_file_path[cur];
    const char *path = file.input_file;
    if (run.log.debug_level) {
      debug_log(run.log, 2, kThreadFn, "Processing Thread[%d]:file to process = %s", id, path);
      debug_log(run.log, 2, kThreadFn, "Processing Thread[%d]: processing seq file = %s\n", id,
                path);
    }
    FILE *fp = open_input_file(path, err);
    if (!fp) return false;
    uint64_t before = t->t_msgcount, first_record = seq_no;
    file.first_local_seq = first_record;
    file.input_fp = fp;
    if (!load_sequence_file_new(t, path, fp, &seq_no, cur)) return false;
    if (t->stop->load()) return true;
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
  if (std::atomic_ref<int32_t>(run.spill.spilling).load() &&
      !spill_thread_records(run, t, seq_no, err))
    return false;
  if (!finish_thread_spills(t, err)) return false;
  if (run.log.debug_level)
    debug_log(run.log, 2, kThreadFn,
              "Processing Thread[%d]: thread completed, total file processed = %hd", id,
              files_done);
  // A line that could not be written leaves the stream's error flag set.
  if (t->error_file_fp) {
    bool failed = ferror(t->error_file_fp) != 0;
    if (fclose(t->error_file_fp) != 0) failed = true;
    t->error_file_fp = nullptr;
    if (failed)
      return fail(err, kThreadFn, "Error in writing error log file %s/error.log.%d: %s",
                  run.config.replay_dir, id, strerror(errno));
  }
  return true;
}

// The loader threads of one Step 2: their states, the failure of each (and
// of its side job), and the flag that stops them all once one failed.
struct LoaderThreads {
  int count = 0;
  int prepared = 0;  // states with their arrays
  int started = 0;   // threads running, to be joined
  ThreadArgs *args = nullptr;
  std::vector<pthread_t> tids;
  std::vector<Failure> failures;
  std::vector<Failure> spill_failures;
  std::atomic<bool> stop{false};
  ~LoaderThreads() {
    release_loader_threads(args, prepared);
    free(args);
  }
};

bool start_threads(RunState &run, LoaderThreads *lt, Failure *err) {
  // The threads look services up through the table's index and must find it
  // complete: they only read it.
  if (!sync_service_index(run, err)) return false;
  run.spill.loader_share = loader_thread_share(run, lt->count);
  int num_predefined_services = run.services.num_service_file;
  for (int i = 0; i < lt->count; i++) {
    ThreadArgs &t = lt->args[i];
    t.run = &run;
    t.failure = &lt->failures[i];
    t.spill_failure = &lt->spill_failures[i];
    t.stop = &lt->stop;
    t.thread_id = static_cast<int16_t>(i);
    uint64_t records = run.config.g_msgcount_per_file;
    t.t_seq_data_arr = static_cast<SeqData *>(calloc(records, sizeof(SeqData)));
    t.service_counter = static_cast<uint64_t *>(calloc(num_predefined_services, sizeof(uint64_t)));
    lt->prepared = i + 1;  // released with the others from here on
    if (!t.t_seq_data_arr && records)
      return out_of_memory(err, kFn, "threadArgs[i].t_seq_data_arr",
                           static_cast<long long>(records * sizeof(SeqData)));
    t.t_max_sda_size = records;
    if (!t.service_counter && num_predefined_services)
      return out_of_memory(err, kFn, "threadArgs[i].service_counter",
                           static_cast<long long>(num_predefined_services * sizeof(uint64_t)));
    if (pthread_create(&lt->tids[i], nullptr, load_input_data_files_t, &t) != 0)
      return fail(err, kFn, "Failed to create Processing Thread[%d]", i);
    lt->started = i + 1;
    info_log(run.log, 1, "  ", "Processing Thread[%d] Started\n", i);
  }
  return true;
}

// Joins the threads started; the first that cannot be joined is the step's
// failure, then the lowest thread's that failed.
bool join_threads(LoaderThreads *lt, Failure *err) {
  bool joined = true;
  for (int i = 0; i < lt->started; i++)
    if (pthread_join(lt->tids[i], nullptr) != 0 && joined)
      joined = fail(err, kFn, "Processing Thread[%d] Failed", i);
  if (!joined) return false;
  for (int i = 0; i < lt->started; i++) {
    if (lt->failures[i].status == 0) continue;
    *err = lt->failures[i];
    return false;
  }
  return true;
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
  if (!load_claimed_files(t)) t->stop->store(true);
  return nullptr;
}

bool load_input_data_files(RunState &run, Failure *err) {
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "num_seq_files = %d", run.files.num_seq_files);
  int16_t num_threads;
  if (!choose_num_threads(run, &num_threads, err) ||
      !check_error_log_path(run.config.replay_dir, num_threads, kFn, err))
    return false;
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "Seq Dara Array per thread = %lu (g_msgcount_per_file = %lu)",
              run.config.g_msgcount_per_file, run.config.g_msgcount_per_file);
  info_log(run.log, 1, "  ", "Number of threads to process request files= %d\n", num_threads);

  LoaderThreads lt;
  lt.count = num_threads;
  lt.args = static_cast<ThreadArgs *>(calloc(num_threads, sizeof(ThreadArgs)));
  if (!lt.args)
    return out_of_memory(err, kFn, "Thread Arguments",
                         static_cast<long long>(num_threads * sizeof(ThreadArgs)));
  lt.tids.resize(static_cast<size_t>(num_threads));
  lt.failures.resize(static_cast<size_t>(num_threads));
  lt.spill_failures.resize(static_cast<size_t>(num_threads));
  int16_t num_predefined_services = static_cast<int16_t>(run.services.num_service_file);
  bool started = start_threads(run, &lt, err);
  if (!started) lt.stop.store(true);
  Failure join_failure;
  if (!join_threads(&lt, started ? err : &join_failure) || !started) return false;
  return merge_loader_threads(run, lt.args, num_threads, num_predefined_services, err) &&
         print_loader_summary(run, err);
}

void print_log_file_info(const RunState &run) {
  info_log(run.log, 1, "  ", "Log files information:");
  info_log(run.log, 1, "    ", "Filename\t\t\t\t\tTotal Requests\t");
  for (int32_t i = 0; i < run.files.num_seq_files; i++)
    info_log(run.log, 1, "    ", "%-30s\t\t%'d", run.files.seq_file_path[i].input_file,
             run.files.seq_file_path[i].msgcount);
  info_log(run.log, 1, "    ", "\t\t\t\tTotal: \t\t%'lu", run.counters.g_msgcount);
}
