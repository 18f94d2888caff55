#include "tools/replay_gen/error_log_path.h"

#include <stdio.h>
#include <string.h>

bool check_error_log_path(const char *replay_dir, int num_threads, const char *fname,
                          Failure *err) {
  char id[16];
  size_t needed = strlen(replay_dir) + strlen("/error.log.") +
                  static_cast<size_t>(snprintf(id, sizeof id, "%d", num_threads - 1));
  if (needed < kErrorLogPathSize) return true;
  return fail(err, fname,
              "Replay directory path too long for the error log files: %s/error.log.%s has %lu "
              "characters, at most %lu are allowed",
              replay_dir, id, needed, kErrorLogPathSize - 1);
}
