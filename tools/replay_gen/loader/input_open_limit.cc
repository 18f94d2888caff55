#include "tools/replay_gen/loader/input_open_limit.h"

#include <sys/resource.h>

#include <algorithm>
#include <thread>

#include "tools/replay_gen/log.h"
#include "tools/replay_gen/trace_names.h"

int64_t raise_open_file_limit(const LogGates &log) {
  struct rlimit lim;
  if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return INT64_MAX;
  if (lim.rlim_cur != lim.rlim_max) {
    struct rlimit raised = {lim.rlim_max, lim.rlim_max};
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) lim.rlim_cur = lim.rlim_max;
  }
  if (log.debug_level)
    debug_log(log, 5, trace_name::kGenInputFileList, "open file limit = %llu",
              static_cast<unsigned long long>(lim.rlim_cur));
  if (lim.rlim_cur == RLIM_INFINITY || lim.rlim_cur > static_cast<rlim_t>(INT64_MAX))
    return INT64_MAX;
  return static_cast<int64_t>(lim.rlim_cur);
}

bool require_open_file_room(const LogGates &log, const char *fname, Failure *err) {
  int64_t limit = raise_open_file_limit(log);
  if (limit >= kMinOpenFiles) return true;
  return fail(err, fname,
              "The open file limit is %lld; a run needs at least %lld open files. Raise the limit "
              "(ulimit -n, and the hard limit ulimit -Hn)",
              static_cast<long long>(limit), static_cast<long long>(kMinOpenFiles));
}

int64_t reserved_descriptors(int workers, int loader_threads, int num_cpu) {
  int64_t cpus = num_cpu > 0 ? num_cpu : 1;
  int64_t loaders = loader_threads > 0 ? loader_threads : cpus;
  int64_t writers = std::max<int64_t>(1, std::min<int64_t>(cpus, workers));
  return 3 + 2 * static_cast<int64_t>(workers) + loaders + 2 * writers + kSpareDescriptors;
}

bool check_input_file_count(const RunState &run, int32_t files, int64_t open_limit, Failure *err) {
  int64_t reserved = reserved_descriptors(run.workers.num_vvm, run.options.g_num_thread,
                                          static_cast<int>(std::thread::hardware_concurrency()));
  int64_t room = open_limit - reserved;
  if (files <= room) return true;
  return fail(err, trace_name::kGenInputFileList,
              "Too many input files: %d found, but at most %lld can stay open (open file limit "
              "%lld less %lld kept for the tool's own files). Select fewer files in INPUT_DIR or "
              "raise the hard limit (ulimit -Hn)",
              files, static_cast<long long>(room < 0 ? 0 : room),
              static_cast<long long>(open_limit), static_cast<long long>(reserved));
}
