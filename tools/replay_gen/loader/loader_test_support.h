// Run state for the loader tests: temp replay directory, services, input files, thread states.
#ifndef VT_REPLAY_GEN_LOADER_LOADER_TEST_SUPPORT_H_
#define VT_REPLAY_GEN_LOADER_LOADER_TEST_SUPPORT_H_

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>
#include <vector>

#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/runtime_services.h"
#include "tools/replay_gen/services/service_map.h"
#include "tools/replay_gen/test_files.h"

namespace loader_test {

// A run whose replay directory is a fresh temp directory, removed with it.
struct TestRun : RunState {
  TestRun() { snprintf(config.replay_dir, kTextBufSize, "%s", make_temp_dir().c_str()); }
  ~TestRun() { remove_dir(config.replay_dir); }
};

// A service as its SERVICE_NAME line configures it, with its indexing tag.
inline int add_configured_service(RunState &run, const char *name, const char *url,
                                  const char *tag) {
  std::string n = name, u = url, t = tag, kw = "SERVICE_NAME", method = "POST";
  char *field[] = {kw.data(), n.data(), method.data(), u.data(), t.data()};
  Failure err;
  if (!set_service(run, 5, field, &err)) abort();
  return run.services.total_services - 1;
}

inline void add_input_file(RunState &run, const std::string &path) {
  InputFiles &f = run.files;
  f.seq_file_path = static_cast<InputFileInfo *>(
      realloc(f.seq_file_path, (f.num_seq_files + 1) * sizeof(InputFileInfo)));
  f.seq_file_path[f.num_seq_files] = InputFileInfo{};
  f.seq_file_path[f.num_seq_files].input_file = strdup(path.c_str());
  f.max_seq_files = ++f.num_seq_files;
}

// Loader threads' states of a run (on the heap: 10 MiB line buffers), with failures and stop flag.
struct TestThreads {
  TestThreads(RunState &run, int n, int services)
      : count(n),
        args(static_cast<ThreadArgs *>(calloc(n, sizeof(ThreadArgs)))),
        failures(static_cast<size_t>(2 * n)) {
    for (int i = 0; i < n; i++) {
      ThreadArgs &t = args[i];
      t.run = &run;
      t.failure = &failures[2 * i];
      t.spill_failure = &failures[2 * i + 1];
      t.stop = &stop;
      t.thread_id = static_cast<int16_t>(i);
      t.service_counter = static_cast<uint64_t *>(calloc(services ? services : 1, 8));
    }
  }
  ~TestThreads() {
    for (int i = 0; i < count; i++) {
      free_runtime_services(&args[i]);
      free(args[i].service_counter);
      free(args[i].t_seq_data_arr);
    }
    free(args);
  }
  ThreadArgs &operator[](int i) { return args[i]; }
  int count;
  ThreadArgs *args;
  std::vector<Failure> failures;
  std::atomic<bool> stop{false};
};

}  // namespace loader_test

#endif  // VT_REPLAY_GEN_LOADER_LOADER_TEST_SUPPORT_H_
