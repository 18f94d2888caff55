#include <stdio.h>
#include <time.h>

#include <algorithm>

#include "tools/replay_gen/date_time.h"
#include "tools/replay_gen/driver/driver.h"
#include "tools/replay_gen/log.h"

void show_start_step_info(RunState &run, int64_t /*timestamp*/, const char *msg) {
  info_log(run.log, 1, "",
           "%s. Total requests = %'lu. Estimated Time = %'lu minutes and %ld seconds\n", msg,
           run.counters.g_msgcount, run.options.estimated_time / 60,
           static_cast<long>(run.options.estimated_time % 60));
}

// A step that outlasts the estimate leaves no time remaining: the estimate
// stops at 0 instead of wrapping around. A clock set back during the step
// makes it take no time.
void show_end_step_info(RunState &run, int64_t start_timestamp, int64_t end_timestamp,
                        const char *msg) {
  uint64_t &estimate = run.options.estimated_time;
  int64_t elapsed = std::max<int64_t>(0, end_timestamp - start_timestamp);
  if (elapsed > 0) estimate = static_cast<uint64_t>(elapsed) > estimate ? 0 : estimate - elapsed;
  info_log(run.log, 1, "",
           "%s. Total good requests = %'lu.Time taken = %'lu minutes and %'lu seconds\n", msg,
           run.counters.g_valid_msgcount, static_cast<unsigned long>(elapsed / 60),
           static_cast<unsigned long>(elapsed % 60));
}

void show_step1_end_info(const RunState &run, int64_t elapsed) {
  elapsed = std::max<int64_t>(0, elapsed);
  info_log(run.log, 1, "",
           "Completed Step1 - Generate input file list based on INPUT_DIR keyword at %s. Time "
           "taken = %'lu minutes and %'lu seconds \n",
           get_cur_date_time(nullptr), static_cast<unsigned long>(elapsed / 60),
           static_cast<unsigned long>(elapsed % 60));
}
