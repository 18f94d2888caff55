#include <stdio.h>
#include <time.h>

#include "tools/replay_gen/driver/driver.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

char *format_date_time(int64_t seconds, char *time_string) {
  time_t t = static_cast<time_t>(seconds);
  struct tm local;
  if (!localtime_r(&t, &local)) {
    snprintf(time_string, 100, "Error|Error");
    return time_string;
  }
  snprintf(time_string, 100, "%02d/%02d/%02d %02d:%02d:%02d", local.tm_mon + 1, local.tm_mday,
           (local.tm_year + 1900) % 2000, local.tm_hour, local.tm_min, local.tm_sec);
  return time_string;
}

char *get_cur_date_time(char *time_string) {
  static char cur_date_time[100];
  return format_date_time(time(nullptr), time_string ? time_string : cur_date_time);
}

void show_start_step_info(int64_t /*timestamp*/, const char *msg) {
  info_log(1, "", "%s. Total requests = %'lu. Estimated Time = %'lu minutes and %ld seconds\n", msg,
           run.counters.g_msgcount, run.options.estimated_time / 60,
           static_cast<long>(run.options.estimated_time % 60));
}

// A step that outlasts the estimate leaves no time remaining: the estimate
// stops at 0 instead of wrapping around.
void show_end_step_info(int64_t start_timestamp, int64_t end_timestamp, const char *msg) {
  int64_t elapsed = end_timestamp - start_timestamp;
  if (elapsed > 0)
    run.options.estimated_time = static_cast<uint64_t>(elapsed) > run.options.estimated_time
                                     ? 0
                                     : run.options.estimated_time - elapsed;
  info_log(1, "", "%s. Total good requests = %'lu.Time taken = %'lu minutes and %'lu seconds\n",
           msg, run.counters.g_valid_msgcount, static_cast<unsigned long>(elapsed / 60),
           static_cast<unsigned long>(elapsed % 60));
}
