// The figures of a replay: counts by outcome, status, error kind, page and
// worker, histograms of latency and lag (overall, per page, per worker),
// bytes, and the timeline. Each sending thread keeps its own and they are
// added up at the end; `vt_replay merge` adds up those of several reports,
// and `vt_package plot --results` makes them from a results file. Every
// request that ends goes through tally_outcome, whoever counts it.
#ifndef VT_BASE_FIGURES_REPLAY_STATS_H_
#define VT_BASE_FIGURES_REPLAY_STATS_H_

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "base/figures/replay_histogram.h"
#include "base/figures/replay_thresholds.h"
#include "base/figures/replay_timeline.h"
#include "base/figures/rewrite_rules.h"

// How a request ended without a whole answer: the connection could not be
// opened, the handshake failed, the connection ended in the middle of the
// answer (or the request file ended early), no whole answer within the
// timeout, an answer that is no HTTP, the connection closed before any byte
// of the answer came.
enum ReplayErrorKind {
  kErrorConnect,
  kErrorTls,
  kErrorReset,
  kErrorTimeout,
  kErrorParse,
  kErrorClosed,
  kErrorKinds
};
extern const char *const kReplayErrorNames[kErrorKinds];  // "connect", "tls", "reset", ...

struct ReplayCounts {
  uint64_t planned = 0;     // due before the replay stopped (all, when it ran to the end)
  uint64_t sent = 0;        // whose first byte was written
  uint64_t completed = 0;   // with a whole response
  uint64_t errors = 0;      // ended without a whole response
  uint64_t bad_status = 0;  // completed with a status outside --ok-status
};

// Failed requests: transport errors and answers with a status not counted ok.
inline uint64_t replay_failed(const ReplayCounts &c) {
  return c.errors + c.bad_status;
}

// Handshakes of an https:// target.
struct ReplayTlsStats {
  uint64_t handshakes = 0;    // completed
  uint64_t resumed = 0;       // of which resumed a session of the same user
  LogHistogram handshake_ns;  // from the connection's open to the handshake's end
  std::string first_failure;  // the reason of the first failed handshake
};

struct ReplayWorkerStats {
  int number = 0;
  uint64_t users = 0;
  ReplayCounts counts;
  LogHistogram latency_ns;
};

struct ReplayPageStats {
  ReplayCounts counts;  // planned left 0
  LogHistogram latency_ns;
};

struct ReplayStats {
  ReplayCounts counts;
  uint64_t errors[kErrorKinds] = {};
  std::map<int, uint64_t> status;  // responses per status code (ok or not)
  std::map<int64_t, ReplayPageStats> pages;
  std::vector<ReplayWorkerStats> workers;
  LogHistogram latency_ns;  // from the first byte sent to the last byte of the response
  LogHistogram lag_ns;      // from the planned send time to the first byte sent
  uint64_t bytes_sent = 0, bytes_received = 0;  // HTTP bytes, TLS records aside
  ReplayTimeline timeline;
  int64_t start_ns = 0;       // CLOCK_MONOTONIC at the start: time 0 of the schedule is due then
  int64_t start_unix_us = 0;  // the same moment on the system's clock
  double elapsed_s = 0;       // from the start to the end of the report
  double planned_span_s = 0;  // from the start to the last planned send of the planned requests
  double send_span_s = 0;     // from the start to the last actual send
  uint64_t max_in_flight = 0;
  uint64_t bytes_per_in_flight = 0;  // vt_replay's own bytes per request in flight
  uint64_t retries = 0;  // requests sent again on a new connection after a kept one closed
  ReplayTlsStats tls;
  std::vector<ReplayRewriteTally> rewrites;   // per rule of ReplayOptions::headers
  std::vector<uint64_t> path_rewrites;        // requests per rule of ReplayOptions::paths
  std::string stopped_by = "end of package";  // or "interrupt", "SIGTERM", "duration"
  // The package times (ms, as in its index files) of the schedule's time 0
  // and of the last request planned; -1 when unknown.
  int64_t package_start_ms = -1, package_last_ms = -1;
};

// How one request ended, as tally_outcome and the results file take it.
struct ReplayOutcome {
  int64_t planned_ns = 0;   // since the start
  int64_t sent_ns = -1;     // since the start; -1: no byte was sent
  int64_t ended_ns = 0;     // since the start
  uint64_t latency_ns = 0;  // with a whole answer
  int status = 0;           // the answer's status; 0 for an error
  int error_kind = 0;       // with status 0
  bool ok = true;           // the status counts as success
  uint64_t bytes_out = 0, bytes_in = 0;
  int64_t page = 0;
  uint32_t worker = 0;  // position in ReplayStats::workers
  uint64_t user = 0;
};

// A request of worker position w became due at planned_ns.
void tally_planned(ReplayStats *s, uint32_t w, int64_t planned_ns);
// A request ended: every count, histogram and column it belongs to.
void tally_outcome(ReplayStats *s, const ReplayOutcome &o);

void add_replay_counts(ReplayCounts *into, const ReplayCounts &from);

// The figures of a report read back hold together: per worker and in all,
// no more sent than planned, answered than sent, ended than planned, nor
// failed statuses than answers; the workers', pages' and timeline columns'
// counts add up to the requests', the statuses to the answers, the error
// kinds to the errors. False with *why naming the first that does not.
bool check_replay_figures(const ReplayStats &s, std::string *why);

// Whether `from` adds to `into` without a count passing 2^64 - 1; false
// with *what naming the first that would.
bool replay_stats_fit(const ReplayStats &into, const ReplayStats &from, std::string *what);
// Adds `from` (the figures of another thread, or of another report whose
// start lies shift_ms after this one's) into `into`: counts add, histograms
// merge, workers of the same number add up, others join in number order.
void merge_replay_stats(ReplayStats *into, const ReplayStats &from, uint64_t shift_ms = 0);

#endif  // VT_BASE_FIGURES_REPLAY_STATS_H_
