// The serving loop of vt_sink: one thread, one epoll loop, every request of
// every connection read whole with an HTTP/1.x parser and answered at once.
#ifndef VT_TOOLS_SINK_SINK_SERVER_H_
#define VT_TOOLS_SINK_SINK_SERVER_H_

#include <stdint.h>
#include <stdio.h>

#include <map>
#include <string>

#include "tools/sink/sink_options.h"

struct SinkCounts {
  uint64_t requests = 0;     // answered
  uint64_t connections = 0;  // accepted
  uint64_t bytes = 0;        // received, heads and bodies
  uint64_t refused = 0;      // requests that were no HTTP/1.x, answered 400
  std::map<int, uint64_t> statuses;
  double elapsed_s = 0;
  const char *stopped_by = "signal";  // or "--seconds", or "an error"
};

// A listening socket on 127.0.0.1:port (0: any free port); *bound is the
// port taken. -1 with *error when it cannot listen.
int open_sink_listener(int port, int *bound, std::string *error);

// Serves until stop_fd (a signalfd, or -1) is readable or o.seconds have
// passed. False with *error when the loop itself fails.
bool run_sink(int listen_fd, const SinkOptions &o, int stop_fd, SinkCounts *counts,
              std::string *error);

void print_sink_summary(FILE *out, int port, const SinkCounts &c);

#endif  // VT_TOOLS_SINK_SINK_SERVER_H_
