#include "tools/replay_gen/fatal.h"

#include <stdio.h>
#include <unistd.h>

#include <atomic>

#include "tools/replay_gen/interrupt.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

#ifdef VT_COVERAGE
// Writes the coverage counters; _exit would skip it.
extern "C" void __gcov_dump(void);
#endif

namespace {
std::atomic<vt_exit_hook_fn> exit_hook{nullptr};
std::atomic<vt_exit_cleanup_fn> exit_cleanup{nullptr};
}  // namespace

void set_vt_exit_cleanup(vt_exit_cleanup_fn cleanup) {
  exit_cleanup.store(cleanup);
}

void set_vt_exit_hook(vt_exit_hook_fn hook) {
  exit_hook.store(hook);
}

void vt_exit(int status) {
  if (vt_exit_cleanup_fn cleanup = exit_cleanup.exchange(nullptr)) cleanup();
  remove_interrupt_gen_input();
  fflush(nullptr);
  if (vt_exit_hook_fn hook = exit_hook.load()) hook(status);
#ifdef VT_COVERAGE
  __gcov_dump();
#endif
  _exit(status);
}

void out_of_memory(const char *fname, const char *what, long long size, int index) {
  error_log(run.log, 1, fname, "Out of Memory: %s (size = %lld) for index %d", what, size, index);
  vt_exit(-1);
}
