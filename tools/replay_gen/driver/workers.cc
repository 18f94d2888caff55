#include "base/core/cpu_count.h"
#include "tools/replay_gen/driver/driver.h"
#include "tools/replay_gen/log.h"

int clamp_default_num_vvm(const LogGates &log, int num_cpu) {
  int64_t wanted = 2 * static_cast<int64_t>(num_cpu);
  if (wanted >= 1 && wanted <= kMaxVvm) return static_cast<int>(wanted);
  int used = wanted < 1 ? 1 : kMaxVvm;
  info_log(log, 1, "",
           "CPU count %d gives %ld workers, outside 1..%d; using %d workers (set NUM_VVM to "
           "choose).",
           num_cpu, static_cast<long>(wanted), kMaxVvm, used);
  return used;
}

void set_default_num_vvm(RunState &run) {
  if (run.log.debug_level) debug_log(run.log, 4, "set_default_num_vvm", "Method Called");
  run.workers.num_vvm = static_cast<int16_t>(clamp_default_num_vvm(run.log, vtlb_get_num_cpu()));
}

int64_t get_total_users(const RunState &run) {
  int64_t total = 0;
  for (int w = 0; w < run.workers.num_vvm && w < kMaxVvm; w++)
    total += run.workers.vvm_list[w].num_users;
  return total;
}
