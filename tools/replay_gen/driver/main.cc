#include <errno.h>
#include <string.h>

#include "base/core/std_descriptors.h"
#include "tools/replay_gen/driver/driver.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

int main(int argc, char **argv) {
  // Before anything is opened: a request file must not become the console.
  if (!vtlb_open_std_descriptors()) {
    error_log(run.log, 1, "main", "Unable to open /dev/null for a closed standard descriptor: %s",
              strerror(errno));
    vt_exit(-1);
  }
  return vtu_replay_gen_main(argc, argv);
}
