// The sender of vt_replay: one epoll loop per thread. Every user of the
// selected workers sends its requests in order at start + time / speed on
// its own connection(s), plain or TLS; responses are read with an HTTP/1.x
// parser.
#ifndef VT_TOOLS_REPLAY_REPLAY_ENGINE_H_
#define VT_TOOLS_REPLAY_REPLAY_ENGINE_H_

#include <stdint.h>
#include <stdio.h>
#include <map>
#include <string>
#include <vector>

#include "tools/replay/replay_histogram.h"
#include "tools/replay/replay_options.h"
#include "tools/replay/replay_package.h"
#include "tools/replay/replay_rewrite.h"
#include "tools/replay/replay_target.h"

enum ReplayErrorKind {
  kErrorConnect,
  kErrorTls,
  kErrorReset,
  kErrorTimeout,
  kErrorParse,
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
  uint64_t handshakes = 0;  // completed
  uint64_t resumed = 0;     // of which resumed a session of the same user
  LogHistogram handshake_ns;  // from the connection's open to the handshake's end
  std::string first_failure;  // the reason of the first failed handshake
};

struct ReplayWorkerStats {
  int number = 0;
  uint64_t users = 0;
  ReplayCounts counts;
};

struct ReplayStats {
  ReplayCounts counts;
  uint64_t errors[kErrorKinds] = {};
  std::map<int, uint64_t> status;         // responses per status code (ok or not)
  std::map<int64_t, ReplayCounts> pages;  // per page id (planned left 0)
  std::vector<ReplayWorkerStats> workers;
  LogHistogram latency_ns;    // from the first byte sent to the last byte of the response
  LogHistogram lag_ns;        // from the planned send time to the first byte sent
  int64_t start_ns = 0;       // CLOCK_MONOTONIC at the start: time 0 of the package is due then
  double elapsed_s = 0;       // from the start to the end of the report
  double planned_span_s = 0;  // from the start to the last planned send of the planned requests
  double send_span_s = 0;     // from the start to the last actual send
  uint64_t max_in_flight = 0;
  uint64_t retries = 0;  // requests sent again on a fresh connection after a kept one closed
  ReplayTlsStats tls;
  std::vector<ReplayRewriteTally> rewrites;  // per rule of ReplayOptions::headers
  const char *stopped_by = "end of package";  // or "interrupt", "duration"
};

// Replays the package. stop_fd (or -1): the replay stops sending once it is
// readable (vt_replay passes a signalfd for SIGINT). progress: a progress
// line at most once a second on `progress_out`. False with *error only when
// the replay could not go on (the package changed, the loop failed); what
// happened to single requests is in *stats.
bool run_replay(const ReplayOptions &o, ReplayPackage *p, const ReplayTarget &t, int stop_fd,
                FILE *progress_out, ReplayStats *stats, std::string *error);

// The bytes one in-flight request holds in vt_replay itself (its connection
// record; the request is sent from the file and the response parsed in place),
// OpenSSL's state of a TLS connection aside.
size_t replay_bytes_per_connection();

#endif  // VT_TOOLS_REPLAY_REPLAY_ENGINE_H_
