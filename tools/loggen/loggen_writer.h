// vt_loggen's run: plans every capture day, writes its files and counts what
// the replay generator should find in them.
#ifndef VT_LOGGEN_LOGGEN_WRITER_H_
#define VT_LOGGEN_LOGGEN_WRITER_H_

#include <stdint.h>
#include <stdio.h>

#include <string>

#include "tools/loggen/loggen_options.h"
#include "tools/loggen/loggen_plan.h"

struct LoggenSummary {
  uint64_t files = 0;
  uint64_t requests = 0;
  uint64_t good = 0;
  uint64_t bad[kBadKinds] = {};
  uint64_t bytes = 0;                 // bytes written to all files
  uint64_t good_body_bytes = 0;       // body bytes of the good records
  uint64_t customers = 0;             // distinct customers with at least one record
  uint64_t long_visits = 0;           // visits that outlast the 30-minute session length
  uint64_t users = 0;                 // users the good records make with 30-minute sessions
  uint64_t users_without_period = 0;  // the same with the code-102 records accepted too
  int64_t window_start_s = 0;         // REPLAY_PERIOD that rejects exactly the code-102 records
  int64_t window_end_s = 0;
};

// Writes the tree under o.out. On failure returns false with the reason.
bool generate_logs(const LoggenOptions &o, LoggenSummary *summary, std::string *error);

// When a progress line is due: a second after the first look, then a second
// after the last line shown; at the end, only once a line was shown (so a
// run too short for any shows none).
struct LoggenProgressClock {
  bool started = false;
  int64_t last_ns = 0;
  bool shown = false;
};
bool loggen_progress_due(LoggenProgressClock *c, int64_t now_ns, bool last);

// The progress line shown on standard error while a tree is written: the
// share done in whole percents and the bytes written in whole MB (2^20).
std::string loggen_progress_line(uint64_t done, uint64_t total, uint64_t bytes);

// "key=value" lines, one per figure.
void print_loggen_summary(FILE *out, const LoggenOptions &o, const LoggenSummary &s);

#endif  // VT_LOGGEN_LOGGEN_WRITER_H_
