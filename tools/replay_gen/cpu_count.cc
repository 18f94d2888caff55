#include "tools/replay_gen/cpu_count.h"

#include "base/core/cpu_count.h"
#include "tools/replay_gen/run_state.h"

int run_num_cpu() {
  if (!run.options.num_cpu_known) {
    run.options.num_cpu = vtlb_get_num_cpu();
    run.options.num_cpu_known = 1;
  }
  return run.options.num_cpu;
}
