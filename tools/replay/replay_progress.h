// The progress line of vt_replay on a terminal, redrawn at most once a
// second: where the replay is in its schedule and in the capture's clock,
// what went out and came back, and when it will end.
#ifndef VT_TOOLS_REPLAY_REPLAY_PROGRESS_H_
#define VT_TOOLS_REPLAY_REPLAY_PROGRESS_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

struct ReplayProgress {
  double elapsed_s = 0;  // since the start
  double planned_s = 0;  // the schedule's length: to the last request due, or --duration
  uint64_t due = 0,
           total = 0;       // requests due so far, of the selected workers (all sent when equal)
  int64_t capture_ms = -1;  // the capture's clock time reached; -1 without a manifest
  uint64_t sent = 0, done = 0, in_flight = 0, failed = 0;
  double rate = 0;        // requests sent per second over the last window
  double lag_max_ms = 0;  // the largest lag of the last window
  double speed = 0;       // the speed now, under a ramp (0: not shown)
};

// "vt_replay: 0:01:23 of 0:03:00 (46.1%), sent ..., ETA 0:01:37, lag max
// 0.21 ms, capture 2026-11-18 11:22:33 UTC"; the fields that do not fit in
// width - 1 columns are left out from the end (width 0: no limit).
std::string format_replay_progress(const ReplayProgress &p, size_t width);

// Seconds as h:mm:ss (rounded down).
std::string format_clock_duration(double seconds);

#endif  // VT_TOOLS_REPLAY_REPLAY_PROGRESS_H_
