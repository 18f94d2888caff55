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

#include "base/figures/replay_stats.h"
#include "tools/replay/replay_options.h"
#include "tools/replay/replay_package.h"
#include "tools/replay/replay_rewrite.h"
#include "tools/replay/replay_target.h"

struct ReplayResultsFile;

// What a replay runs with besides its options, package and target.
struct ReplayRunContext {
  int stop_fd = -1;                      // the replay stops sending once it is readable (SIGINT)
  FILE *progress_out = nullptr;          // a progress line at most once a second
  size_t progress_width = 0;             // the terminal's columns (0: no limit)
  ReplayResultsFile *results = nullptr;  // --results
  int64_t start_ns = 0;                  // CLOCK_MONOTONIC of time 0 of the schedule; 0: at once
  int64_t start_unix_us = 0;      // the same moment on the system's clock (0: read at the start)
  int64_t capture_start_ms = -1;  // the capture's clock time of package time 0 (the manifest)
};

// Replays the package. False with *error only when the replay could not go
// on (the package changed, the loop failed); what happened to single
// requests is in *stats, and in the results file (whose own write errors it
// keeps).
bool run_replay(const ReplayOptions &o, ReplayPackage *p, const ReplayTarget &t,
                const ReplayRunContext &ctx, ReplayStats *stats, std::string *error);

// The bytes one in-flight request holds in vt_replay itself (its connection
// record; the request is sent from the file and the response parsed in place),
// OpenSSL's state of a TLS connection aside.
size_t replay_bytes_per_connection();

#endif  // VT_TOOLS_REPLAY_REPLAY_ENGINE_H_
