#include "tools/replay_gen/cpu_count.h"

#include "base/core/cpu_count.h"

int run_num_cpu() {
  return vtlb_get_num_cpu();
}
