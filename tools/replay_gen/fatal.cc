#include "tools/replay_gen/fatal.h"

#include <stdio.h>
#include <unistd.h>

#include <atomic>

namespace {
std::atomic<vt_exit_hook_fn> exit_hook{nullptr};
}  // namespace

void set_vt_exit_hook(vt_exit_hook_fn hook) {
  exit_hook.store(hook);
}

void throw_on_vt_exit(int status) {
  throw VtExit{status};
}

void vt_exit(int status) {
  fflush(nullptr);
  if (vt_exit_hook_fn hook = exit_hook.load()) hook(status);
  _exit(status);
}
