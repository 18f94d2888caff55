#include "tools/replay_gen/error_log_path.h"

#include <stdio.h>
#include <string.h>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

void check_error_log_path(int num_threads, const char *fname) {
  char id[16];
  size_t needed = strlen(run.config.replay_dir) + strlen("/error.log.") +
                  static_cast<size_t>(snprintf(id, sizeof id, "%d", num_threads - 1));
  if (needed < kErrorLogPathSize) return;
  error_log(run.log, 1, fname,
            "Replay directory path too long for the error log files: %s/error.log.%s has %lu "
            "characters, at most %lu are allowed",
            run.config.replay_dir, id, needed, kErrorLogPathSize - 1);
  vt_exit(-1);
}
