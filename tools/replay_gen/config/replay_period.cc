// REPLAY_PERIOD: the start and end of the requests to keep, as local times.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <limits>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/trace_names.h"

namespace {

constexpr const char *kFname = trace_name::kReadConfig;

struct Bound {
  const char *which;  // "start" or "end"
  const char *debug_text_format;
  const char *debug_stamp_format;
  const char *invalid_format;
  uint64_t *stamp;
};

bool fits_int(int64_t value) {
  return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
}

bool refuse_unconvertible(const RunState &run, const Bound &bound, const char *text, Failure *err) {
  return fail(err, kFname,
              "REPLAY_PERIOD %s date/time %s at line %d of the configuration cannot be converted: "
              "it must be a local time from 01/01/1970 00:00:00 UTC on.",
              bound.which, text, run.config.current_line_num);
}

// "mm/dd/yyyy HH:MM:SS" as local time, out-of-range values carried forward.
bool set_bound(const RunState &run, const Bound &bound, const char *text, Failure *err) {
  if (strcmp(text, "NA") == 0) return true;
  if (run.log.debug_level) debug_log(run.log, 4, kFname, bound.debug_text_format, text);
  int month, day, year, hour, minute, second;
  if (sscanf(text, "%d/%d/%d %d:%d:%d", &month, &day, &year, &hour, &minute, &second) < 6)
    return fail(err, kFname, bound.invalid_format, text);
  int64_t tm_mon = static_cast<int64_t>(month) - 1;
  int64_t tm_year = static_cast<int64_t>(year) - 1900;
  if (!fits_int(tm_mon) || !fits_int(tm_year)) return refuse_unconvertible(run, bound, text, err);
  struct tm date = {};
  date.tm_mon = static_cast<int>(tm_mon);
  date.tm_mday = day;
  date.tm_year = static_cast<int>(tm_year);
  date.tm_hour = hour;
  date.tm_min = minute;
  date.tm_sec = second;
  date.tm_isdst = -1;  // the system decides daylight saving time for the date
  time_t seconds = mktime(&date);
  // Failure shows as -1; times before the epoch do not fit the unsigned bound.
  if (seconds < 0) return refuse_unconvertible(run, bound, text, err);
  *bound.stamp = static_cast<uint64_t>(seconds);
  if (run.log.debug_level)
    debug_log(run.log, 4, kFname, bound.debug_stamp_format,
              static_cast<unsigned long>(*bound.stamp));
  return true;
}

}  // namespace

bool set_replay_period(RunState &run, int num, char **field, Failure *err) {
  if (num < 3) return fail(err, kFname, "Invalid format of REPLAY_PERIOD");
  return set_bound(run,
                   {"start", "Replay period start date/time - %s", "Start time stamp - %lu",
                    "Invalid format of Replay period, start date/time - %s",
                    &run.config.start_time_stamp},
                   field[1], err) &&
         set_bound(
             run,
             {"end", "Replay period end date/time - %s", "End time stamp - %lu",
              "Invalid format of Replay period, end date/time - %s", &run.config.end_time_stamp},
             field[2], err);
}
