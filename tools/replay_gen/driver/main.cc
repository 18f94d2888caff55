#include <errno.h>
#include <string.h>

#include "base/core/std_descriptors.h"
#include "tools/replay_gen/driver/driver.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/trace_names.h"

int main(int argc, char **argv) {
  // Before anything is opened: a request file must not become the console.
  if (!vtlb_open_std_descriptors()) {
    Failure err;
    fail(&err, trace_name::kMain, "Unable to open /dev/null for a closed standard descriptor: %s",
         strerror(errno));
    exit_on_failure(LogGates{}, err);
  }
  return vtu_replay_gen_main(argc, argv);
}
