#include "base/core/failing_spawn_test_support.h"

#include <dlfcn.h>
#include <errno.h>
#include <spawn.h>

#include <atomic>

namespace {

std::atomic<int> spawns_before_failure{-1};

}  // namespace

void vt_fail_spawn_after(int succeeding) {
  spawns_before_failure = succeeding < 0 ? -1 : succeeding;
}

// Ours comes before the C library's; the next one in the search order does the real work.
extern "C" int posix_spawn(pid_t *pid, const char *path, const posix_spawn_file_actions_t *actions,
                           const posix_spawnattr_t *attr, char *const argv[], char *const envp[]) {
  int left = spawns_before_failure.load();
  if (left == 0) {
    spawns_before_failure = -1;
    return EAGAIN;
  }
  if (left > 0) spawns_before_failure = left - 1;
  using SpawnFn = int (*)(pid_t *, const char *, const posix_spawn_file_actions_t *,
                          const posix_spawnattr_t *, char *const[], char *const[]);
  static SpawnFn real = reinterpret_cast<SpawnFn>(dlsym(RTLD_NEXT, "posix_spawn"));
  return real(pid, path, actions, attr, argv, envp);
}
