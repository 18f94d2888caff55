#include "tools/replay_gen/date_time.h"

#include <stdio.h>
#include <time.h>

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
