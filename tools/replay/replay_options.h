// Command line of vt_replay.
#ifndef VT_TOOLS_REPLAY_REPLAY_OPTIONS_H_
#define VT_TOOLS_REPLAY_REPLAY_OPTIONS_H_

#include <stdio.h>

#include <string>
#include <vector>

#include "base/figures/replay_thresholds.h"
#include "tools/replay/replay_modes.h"
#include "tools/replay/replay_package.h"
#include "tools/replay/replay_path_rule.h"
#include "tools/replay/replay_rewrite.h"
#include "tools/replay/replay_target.h"

struct ReplayOptions {
  std::string dir;               // the replay package
  ReplayTargetName target;       // --target
  std::string target_text;       // --target as given
  std::vector<int> workers;      // --workers; empty: every worker of the package
  double speed = 1.0;            // --speed: planned times are divided by it (a ramp's first)
  ReplayMode mode;               // --loop, --loop-gap, --users, --rate, --speed A:B@T
  double duration_s = 0;         // --duration: 0 for no limit
  int connections_per_user = 1;  // --connections-per-user: requests in flight per user
  int timeout_ms = 10000;        // --timeout: per request, and the wait at a stop
  int threads = 1;               // --threads: sending threads, the users dealt among them
  std::string json_path;         // --json: the report as JSON into a new file
  std::string results_path;      // --results: one line per request into a new file
  std::string html_path;         // --html: the page of the run into a new file
  ReplayShard shard;             // --shard I/N
  bool shard_auto = false;       // --shard auto/N: I from JOB_COMPLETION_INDEX (resolve_auto_shard)
  int64_t start_at_unix_us = 0;  // --start-at: time 0 of the schedule on the system's clock
  bool quiet = false;            // --quiet: no progress line
  bool retry_closed = false;     // --retry-closed: a request closed unanswered is sent again
  // https:// targets
  std::string sni;     // --sni: the name sent and checked; empty: the target's host
  std::string cacert;  // --cacert: trust only the certificates of this file
  bool insecure = false;
  // Rewrites (--host, --header), one rule per header name; none: bytes as they are.
  std::vector<ReplayHeaderRule> headers;
  std::vector<ReplayPathRule> paths;  // --rewrite-path, in the order given: the first that matches
  ReplayStatusSet ok_status = default_ok_status();  // --ok-status
  std::vector<ReplayThreshold> thresholds;          // in the order given
  std::string command_line;                         // the arguments as the report shows them
  // --trust-foreign-files: package files of other owners are read too
  bool trust_foreign_files = false;
};

enum class ReplayCommand { kRun, kHelp, kVersion, kUsageError };

// Reads argv; on kUsageError *error says what is wrong.
ReplayCommand parse_replay_options(int argc, char **argv, ReplayOptions *o, std::string *error);

// Reads "0,2,5-7" into worker numbers (0 to 255), sorted and without repeats.
bool parse_worker_list(const char *text, std::vector<int> *workers);

// Reads "I/N" (0 <= I < N <= 256).
bool parse_shard(const std::string &text, ReplayShard *shard);

// --shard auto/N: the shard's index from `index_text`, the value of
// JOB_COMPLETION_INDEX (null when it is not set), a decimal below
// shard->count. False with *error naming the variable, its value and N.
bool resolve_auto_shard(const char *index_text, ReplayShard *shard, std::string *error);

// Reads a moment: seconds since the epoch ("1795000000", "1795000000.25")
// or ISO 8601 with its zone ("2026-12-07T10:00:00Z", "...T11:00:00.5+01:00").
bool parse_start_time(const std::string &text, int64_t *unix_us, std::string *error);

// The name an https:// target's certificate is checked for (and sent as SNI).
std::string replay_tls_name(const ReplayOptions &o);

void print_replay_usage(FILE *out);

#endif  // VT_TOOLS_REPLAY_REPLAY_OPTIONS_H_
