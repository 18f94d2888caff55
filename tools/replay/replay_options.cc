#include "tools/replay/replay_options.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>

#include "base/core/command_line.h"

namespace {

bool read_long(const char *text, long min, long max, long *value) {
  if (!*text) return false;
  char *end;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (*end || errno || v < min || v > max) return false;
  *value = v;
  return true;
}

bool read_double(const char *text, double *value) {
  if (!*text) return false;
  char *end;
  errno = 0;
  double v = strtod(text, &end);
  if (*end || errno || !isfinite(v)) return false;
  *value = v;
  return true;
}

// One argument as a shell word: as it is when it needs no quotes.
std::string shell_word(const std::string &arg) {
  bool plain = !arg.empty() && arg.find_first_not_of(
                                   "abcdefghijklmnopqrstuvwxyz"
                                   "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                   "_-./:=,@%+") == std::string::npos;
  if (plain) return arg;
  std::string out = "'";
  for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

bool parse_worker_list(const char *text, std::vector<int> *workers) {
  workers->clear();
  std::string s = text;
  size_t at = 0;
  while (true) {
    size_t comma = s.find(',', at);
    std::string item = s.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    size_t dash = item.find('-');
    long first, last;
    if (dash == std::string::npos) {
      if (!read_long(item.c_str(), 0, 255, &first)) return false;
      last = first;
    } else if (!read_long(item.substr(0, dash).c_str(), 0, 255, &first) ||
               !read_long(item.substr(dash + 1).c_str(), 0, 255, &last) || last < first) {
      return false;
    }
    for (long w = first; w <= last; w++) workers->push_back(static_cast<int>(w));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  std::sort(workers->begin(), workers->end());
  workers->erase(std::unique(workers->begin(), workers->end()), workers->end());
  return true;
}

bool parse_shard(const std::string &text, ReplayShard *shard) {
  size_t slash = text.find('/');
  long index, count;
  if (slash == std::string::npos || !read_long(text.substr(0, slash).c_str(), 0, 255, &index) ||
      !read_long(text.substr(slash + 1).c_str(), 1, 256, &count) || index >= count)
    return false;
  shard->index = static_cast<int>(index);
  shard->count = static_cast<int>(count);
  return true;
}

bool resolve_auto_shard(const char *index_text, ReplayShard *shard, std::string *error) {
  std::string n = std::to_string(shard->count);
  if (!index_text || !*index_text)
    return *error = std::string("JOB_COMPLETION_INDEX is ") + (index_text ? "empty" : "not set") +
                    ": --shard auto/" + n + " takes the shard's index (0 to " +
                    std::to_string(shard->count - 1) + ") from it",
           false;
  std::string text = index_text;
  std::string shown = "JOB_COMPLETION_INDEX='" + replay_escaped(text) + "'";
  if (strspn(index_text, "0123456789") != text.size())
    return *error = shown + " is not a decimal index (--shard auto/" + n + ")", false;
  long index;
  if (!read_long(index_text, 0, shard->count - 1, &index))
    return *error = shown + " is out of range: --shard auto/" + n + " takes 0 to " +
                    std::to_string(shard->count - 1),
           false;
  shard->index = static_cast<int>(index);
  return true;
}

// 3000-01-01T00:00:00Z, the latest start time taken.
constexpr int64_t kLastStartS = 32503680000;

bool parse_start_time(const std::string &text, int64_t *unix_us, std::string *error) {
  const char *s = text.c_str();
  // Seconds since the epoch.
  if (!text.empty() && strspn(s, "0123456789.") == text.size()) {
    double seconds;
    if (!read_double(s, &seconds) || seconds < 1 || seconds > kLastStartS)
      return *error = "expected seconds since the epoch or an ISO 8601 time", false;
    *unix_us = static_cast<int64_t>(llround(seconds * 1e6));
    return true;
  }
  tm t{};
  int used = 0;
  if (sscanf(s, "%4d-%2d-%2d%*1[T ]%2d:%2d:%2d%n", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
             &t.tm_min, &t.tm_sec, &used) != 6 ||
      used != 19 || t.tm_mon < 1 || t.tm_mon > 12 || t.tm_mday < 1 || t.tm_mday > 31 ||
      t.tm_hour > 23 || t.tm_min > 59 || t.tm_sec > 60)
    return *error =
               "expected seconds since the epoch or an ISO 8601 time such as "
               "2026-12-07T10:00:00Z",
           false;
  const char *rest = s + used;
  int64_t micros = 0;
  if (*rest == '.') {
    int digits = 0;
    for (rest++; *rest >= '0' && *rest <= '9'; rest++, digits++)
      if (digits < 6) micros = micros * 10 + (*rest - '0');
    if (digits == 0) return *error = "no digits after the decimal point", false;
    for (; digits < 6; digits++) micros *= 10;
  }
  long offset_s = 0;
  if (*rest == 'Z' && rest[1] == 0) {
  } else if ((*rest == '+' || *rest == '-') && strlen(rest) == 6 && rest[3] == ':') {
    int h, m;
    if (sscanf(rest + 1, "%2d:%2d", &h, &m) != 2 || h > 23 || m > 59)
      return *error = "a zone is Z or +hh:mm", false;
    offset_s = (*rest == '+' ? 1 : -1) * (h * 3600L + m * 60L);
  } else {
    return *error = "the time needs its zone: Z (UTC) or +hh:mm, as shards may run in other zones",
           false;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  time_t epoch = timegm(&t);
  // The bounds of the seconds form: a time at or before the epoch would read
  // as no start time at all. (timegm's -1 for a time it cannot give falls
  // outside them too.)
  int64_t us = (static_cast<int64_t>(epoch) - offset_s) * 1000000 + micros;
  if (us < 1000000 || us > kLastStartS * 1000000)
    return *error = "not a time between 1970-01-01T00:00:01Z and 3000-01-01T00:00:00Z", false;
  *unix_us = us;
  return true;
}

namespace {

enum OptionKey {
  kTarget = 1000,
  kWorkers,
  kSpeed,
  kDuration,
  kConnectionsPerUser,
  kTimeout,
  kThreads,
  kJson,
  kResults,
  kHtml,
  kShard,
  kStartAt,
  kQuiet,
  kSni,
  kCacert,
  kInsecure,
  kHost,
  kHeader,
  kRewritePath,
  kOkStatus,
  kMaxFailed,
  kMaxLatency,
  kMaxLag,
  kRetryClosed,
  kTrustForeign,
  kLoop,
  kLoopGap,
  kUsers,
  kRate,
  kVersion,
};

const option kOptions[] = {
    {"target", required_argument, nullptr, kTarget},
    {"workers", required_argument, nullptr, kWorkers},
    {"speed", required_argument, nullptr, kSpeed},
    {"duration", required_argument, nullptr, kDuration},
    {"connections-per-user", required_argument, nullptr, kConnectionsPerUser},
    {"timeout", required_argument, nullptr, kTimeout},
    {"threads", required_argument, nullptr, kThreads},
    {"json", required_argument, nullptr, kJson},
    {"results", required_argument, nullptr, kResults},
    {"html", required_argument, nullptr, kHtml},
    {"shard", required_argument, nullptr, kShard},
    {"start-at", required_argument, nullptr, kStartAt},
    {"quiet", no_argument, nullptr, kQuiet},
    {"sni", required_argument, nullptr, kSni},
    {"cacert", required_argument, nullptr, kCacert},
    {"insecure", no_argument, nullptr, kInsecure},
    {"host", required_argument, nullptr, kHost},
    {"header", required_argument, nullptr, kHeader},
    {"rewrite-path", required_argument, nullptr, kRewritePath},
    {"ok-status", required_argument, nullptr, kOkStatus},
    {"max-failed", required_argument, nullptr, kMaxFailed},
    {"max-latency", required_argument, nullptr, kMaxLatency},
    {"max-lag", required_argument, nullptr, kMaxLag},
    {"retry-closed", no_argument, nullptr, kRetryClosed},
    {"trust-foreign-files", no_argument, nullptr, kTrustForeign},
    {"loop", required_argument, nullptr, kLoop},
    {"loop-gap", required_argument, nullptr, kLoopGap},
    {"users", required_argument, nullptr, kUsers},
    {"rate", required_argument, nullptr, kRate},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0}};

// One option's value into o; false with *error naming the option and the
// value (shown escaped where it holds control characters).
bool take_option(int key, const std::string &value, ReplayOptions *o, bool *have_target,
                 std::string *error) {
  const char *v = value.c_str();
  long n;
  std::string why;
  ReplayHeaderRule rule;
  ReplayPathRule path_rule;
  ReplayThreshold threshold;
  auto refuse = [error](const std::string &text) {
    *error = text;
    return false;
  };
  switch (key) {
    case kTarget:
      if (!parse_replay_target(value, &o->target, &why))
        return refuse("--target " + value + ": " + why);
      *have_target = true;
      o->target_text = value;
      return true;
    case kSni:
    case kCacert:
      if (value.empty())
        return refuse(std::string(key == kSni ? "--sni" : "--cacert") + " needs a value");
      (key == kSni ? o->sni : o->cacert) = value;
      return true;
    case kHost:
      if (!host_header_rule(value, &rule, &why))
        return refuse("--host " + replay_escaped(value) + ": " + why);
      add_header_rule(&o->headers, rule);
      return true;
    case kHeader:
      if (!parse_header_rule(value, &rule, &why))
        return refuse("--header " + replay_escaped(value) + ": " + why);
      add_header_rule(&o->headers, rule);
      return true;
    case kRewritePath:
      if (!parse_path_rule(value, &path_rule, &why))
        return refuse("--rewrite-path " + replay_escaped(value) + ": " + why);
      o->paths.push_back(path_rule);
      return true;
    case kOkStatus:
      if (!parse_status_set(value, &o->ok_status, &why))
        return refuse("--ok-status " + value + ": " + why);
      return true;
    case kMaxFailed:
      if (!parse_failed_threshold(value, &threshold, &why))
        return refuse("--max-failed " + value + ": " + why);
      o->thresholds.push_back(threshold);
      return true;
    case kMaxLatency:
    case kMaxLag: {
      bool lag = key == kMaxLag;
      if (!parse_percentile_threshold(value, lag ? ThresholdKind::kLag : ThresholdKind::kLatency,
                                      &threshold, &why))
        return refuse(std::string(lag ? "--max-lag " : "--max-latency ") + value + ": " + why);
      o->thresholds.push_back(threshold);
      return true;
    }
    case kWorkers:
      if (!parse_worker_list(v, &o->workers))
        return refuse("--workers " + value +
                      ": expected worker numbers from 0 to 255 such as 0,2,4-7");
      return true;
    case kSpeed:
      if (!parse_speed(value, &o->speed, &o->mode, &why))
        return refuse("--speed " + value + ": " + why);
      return true;
    case kLoop:
      if (!parse_loop_count(value, &o->mode.loops, &why))
        return refuse("--loop " + value + ": " + why);
      return true;
    case kLoopGap:
      if (!parse_seconds(value, true, &o->mode.loop_gap_s, &why))
        return refuse("--loop-gap " + value + ": " + why);
      return true;
    case kUsers:
      if (!parse_user_copies(value, &o->mode.copies, &why))
        return refuse("--users " + value + ": " + why);
      return true;
    case kRate:
      if (!parse_rate(value, &o->mode.rate, &why)) return refuse("--rate " + value + ": " + why);
      return true;
    case kDuration:
      if (!parse_seconds(value, false, &o->duration_s, &why))
        return refuse("--duration " + value + ": " + why);
      return true;
    case kConnectionsPerUser:
      if (!read_long(v, 1, 64, &n))
        return refuse("--connections-per-user " + value + ": expected a whole number from 1 to 64");
      o->connections_per_user = static_cast<int>(n);
      return true;
    case kTimeout:
      if (!read_long(v, 1, 3600000, &n))
        return refuse("--timeout " + value + ": expected milliseconds from 1 to 3600000");
      o->timeout_ms = static_cast<int>(n);
      return true;
    case kThreads:
      if (!read_long(v, 1, 64, &n))
        return refuse("--threads " + value + ": expected a whole number from 1 to 64");
      o->threads = static_cast<int>(n);
      return true;
    case kJson:
    case kResults:
    case kHtml: {
      const char *name = key == kJson ? "--json" : key == kResults ? "--results" : "--html";
      if (value.empty()) return refuse(std::string(name) + " needs a file name");
      (key == kJson ? o->json_path : key == kResults ? o->results_path : o->html_path) = value;
      return true;
    }
    case kShard:
      o->shard_auto = value.compare(0, 5, "auto/") == 0;
      if (o->shard_auto ? !read_long(v + 5, 1, 256, &n) : !parse_shard(value, &o->shard))
        return refuse("--shard " + value +
                      ": expected I/N, the shard I (from 0) of N, such as 0/4, or auto/N");
      if (o->shard_auto) o->shard = {0, static_cast<int>(n)};
      return true;
    case kStartAt:
      if (!parse_start_time(value, &o->start_at_unix_us, &why))
        return refuse("--start-at " + value + ": " + why);
      return true;
    case kQuiet:
      o->quiet = true;
      return true;
    case kInsecure:
      o->insecure = true;
      return true;
    case kRetryClosed:
      o->retry_closed = true;
      return true;
    case kTrustForeign:
      o->trust_foreign_files = true;
      return true;
  }
  return refuse("unknown option");
}

}  // namespace

ReplayCommand parse_replay_options(int argc, char **argv, ReplayOptions *o, std::string *error) {
  bool have_target = false;
  o->command_line = "vt_replay";
  for (int i = 1; i < argc; i++) o->command_line.append(" ").append(shell_word(argv[i]));
  ReplayCommand asked = ReplayCommand::kRun;
  std::vector<std::string> operands;
  CommandLineError bad;
  bool read = vtlb_read_command_line(
      argc, argv, "h", kOptions,
      [&](int key, const char *value) {
        if (key == 'h' || key == kVersion) {
          asked = key == 'h' ? ReplayCommand::kHelp : ReplayCommand::kVersion;
          return false;
        }
        return take_option(key, value ? value : "", o, &have_target, error);
      },
      &operands, &bad);
  if (asked != ReplayCommand::kRun) return asked;
  if (!read) {
    if (bad.fault != CommandLineFault::kRefused) *error = vtlb_command_line_message(bad);
    return ReplayCommand::kUsageError;
  }
  if (operands.size() > 1)
    return *error = "more than one package directory (" + operands[0] + ", " + operands[1] + ")",
           ReplayCommand::kUsageError;
  if (operands.empty()) return *error = "no package directory given", ReplayCommand::kUsageError;
  o->dir = operands[0];
  if (!have_target) return *error = "no --target given", ReplayCommand::kUsageError;
  bool https = o->target.scheme == ReplayScheme::kHttps;
  const char *tls_only = !o->sni.empty()      ? "--sni"
                         : !o->cacert.empty() ? "--cacert"
                         : o->insecure        ? "--insecure"
                                              : nullptr;
  if (tls_only && !https)
    return *error = std::string(tls_only) + " applies to an https:// target, not " + o->target_text,
           ReplayCommand::kUsageError;
  const std::string *outputs[] = {&o->json_path, &o->results_path, &o->html_path};
  for (int i = 0; i < 3; i++)
    for (int j = i + 1; j < 3; j++)
      if (!outputs[i]->empty() && *outputs[i] == *outputs[j])
        return *error = "--json, --results and --html name the same file " + *outputs[i],
               ReplayCommand::kUsageError;
  if (o->insecure && !o->cacert.empty())
    return *error = "--insecure skips the check that --cacert is for: give one of them",
           ReplayCommand::kUsageError;
  *error = replay_mode_conflict(o->mode, o->duration_s, o->shard.count);
  return error->empty() ? ReplayCommand::kRun : ReplayCommand::kUsageError;
}

std::string replay_tls_name(const ReplayOptions &o) {
  return o.sni.empty() ? o.target.host : o.sni;
}

void print_replay_usage(FILE *out) {
  fprintf(out,
          "usage: vt_replay DIR --target TARGET [--workers LIST] [--speed FACTOR|A:B@T]\n"
          "                 [--loop N|inf] [--loop-gap SECONDS] [--users xK] [--rate R/s]\n"
          "                 [--duration SECONDS] [--connections-per-user N] [--timeout MS]\n"
          "                 [--threads N] [--json FILE] [--results FILE] [--html FILE]\n"
          "                 [--shard I/N] [--start-at TIME] [--quiet] [--retry-closed]\n"
          "                 [--trust-foreign-files] [--sni NAME] [--cacert FILE | --insecure]\n"
          "                 [--host NAME] [--header 'Name: value'] ...\n"
          "                 [--rewrite-path FROM=TO] ...\n"
          "                 [--ok-status LIST] [--max-failed RATIO]\n"
          "                 [--max-latency pNN=TIME] ... [--max-lag pNN=TIME] ...\n"
          "\n"
          "Sends the requests of the replay package in DIR (vt_index_<w>, vt_req_<w>) to\n"
          "TARGET, each user on its own keep-alive connection at its recorded times,\n"
          "and prints a report of what came back.\n"
          "\n"
          "  --target TARGET            HOST:PORT or http://HOST[:PORT] (plain TCP), or\n"
          "                             https://HOST[:PORT] (TLS); no path\n"
          "  --workers LIST             only these workers, e.g. 0,2,4-7 (default: all)\n"
          "  --speed FACTOR             send at start + time / FACTOR (default 1)\n"
          "  --speed A:B@T              from speed A to B linearly over T (s, m or h),\n"
          "                             then held at B, e.g. 1:10@10m\n"
          "  --loop N|inf               play the package N times (inf: until --duration),\n"
          "                             each pass with new users on new connections\n"
          "  --loop-gap SECONDS         the pause between passes (default 0)\n"
          "  --users xK                 play each user as K users, copy j shifted by j/K of\n"
          "                             the user's session (K at most 1000)\n"
          "  --rate R/s                 the requests in their package order at R per second,\n"
          "                             the recorded pace aside (not with --speed)\n"
          "  --duration SECONDS         stop sending after this long, also 90s, 10m, 2h\n"
          "                             (default: no limit)\n"
          "  --connections-per-user N   requests a user may have in flight (default 1)\n"
          "  --timeout MS               per connect, handshake and request, and the wait\n"
          "                             for answers at a stop (default 10000)\n"
          "  --threads N                sending threads, the users dealt among them (default 1)\n"
          "  --json FILE                also write the report as JSON into FILE (new file),\n"
          "                             with the histograms and timeline merge needs\n"
          "  --results FILE             one line per request into FILE (new file): JSON\n"
          "                             lines, or CSV when FILE ends in .csv\n"
          "  --html FILE                the page of the run: rates, latency, failures and\n"
          "                             lag over time, the pages (new file)\n"
          "  --shard I/N                only every N-th of the selected workers from the\n"
          "                             I-th (I from 0), for runs on several machines\n"
          "  --shard auto/N             the same with I from JOB_COMPLETION_INDEX (an\n"
          "                             indexed Job)\n"
          "  --start-at TIME            time 0 of the schedule at TIME: seconds since the\n"
          "                             epoch or ISO 8601 with zone (2026-12-07T10:00:00Z)\n"
          "  --quiet                    no progress line\n"
          "  --retry-closed             send a request whose kept connection closed before\n"
          "                             its answer once more on a new one (default: only\n"
          "                             when it had not gone out whole; else it failed)\n"
          "  --trust-foreign-files      read package files of other owners than the\n"
          "                             directory's and the caller (a shared directory)\n"
          "  --sni NAME                 https: the server name sent and checked in the\n"
          "                             certificate (default: the target's host)\n"
          "  --cacert FILE              https: trust the certificates in FILE only\n"
          "                             (default: the system's store)\n"
          "  --insecure                 https: do not check the certificate\n"
          "  --host NAME                replace the Host header of every request\n"
          "  --header 'Name: value'     add the header, or replace the header of that name;\n"
          "                             'Name:' removes it (repeatable; bodies and\n"
          "                             Content-Length are never touched)\n"
          "  --rewrite-path FROM=TO     a request target's path that begins with FROM\n"
          "                             begins with TO instead (byte prefix; repeatable,\n"
          "                             the first matching rule wins)\n"
          "  --ok-status LIST           statuses that count as success: codes and classes\n"
          "                             (default 2xx,3xx); others count as failed\n"
          "  --max-failed RATIO         fail the run above this failed ratio (0.01 or 1%%);\n"
          "                             without it, any failed request fails the run\n"
          "  --max-latency pNN=TIME     fail the run when the latency percentile is above\n"
          "                             TIME (ms, or with its unit: 200, 200ms, 0.2s), or\n"
          "                             nothing answered, e.g. p99=200 (repeatable)\n"
          "  --max-lag pNN=TIME         the same for the lag behind the schedule (repeatable)\n"
          "  --help, --version\n"
          "\n"
          "Without --host, --header and --rewrite-path every request is sent as the package holds it.\n"
          "\n"
          "vt_replay merge REPORT.json ... [--json FILE] [--html FILE] adds up the\n"
          "--json reports of shards (vt_replay merge --help).\n"
          "Exit status: 0 passed, 1 a broken package, an unreachable target, a refused\n"
          "certificate or an output that cannot be made (before anything is sent) or\n"
          "written, 2 a usage error, 3 a threshold crossed or, without --max-failed, a\n"
          "request failed, 130 SIGINT and 143 SIGTERM (after the report so far).\n");
}
