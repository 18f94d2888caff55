#include "tools/replay/replay_options.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

const char kReplayVersion[] = "vt_replay 1.0";

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

// "HOST:PORT", the host in brackets when it holds colons ("[::1]:8080").
bool split_target(const std::string &text, std::string *host, std::string *port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string h = text.substr(0, colon), p = text.substr(colon + 1);
  if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  if (h.find(':') != std::string::npos && text[0] != '[') return false;
  long port_number;
  if (!read_long(p.c_str(), 1, 65535, &port_number)) return false;
  *host = h;
  *port = p;
  return true;
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

ReplayCommand parse_replay_options(int argc, char **argv, ReplayOptions *o, std::string *error) {
  bool have_target = false;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return ReplayCommand::kHelp;
    if (arg == "--version") return ReplayCommand::kVersion;
    if (arg == "--quiet") {
      o->quiet = true;
      continue;
    }
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      if (arg.size() > 1 && arg[0] == '-')
        return *error = "unknown option " + arg, ReplayCommand::kUsageError;
      if (!o->dir.empty())
        return *error = "more than one package directory (" + o->dir + ", " + arg + ")",
               ReplayCommand::kUsageError;
      o->dir = arg;
      continue;
    }
    std::string name = arg, value;
    size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    } else {
      static const char *const kTakesValue[] = {
          "--target",  "--workers", "--speed",  "--duration", "--connections-per-user",
          "--timeout", "--json",    "--threads"};
      bool known = false;
      for (const char *k : kTakesValue) known = known || name == k;
      if (!known) return *error = "unknown option " + arg, ReplayCommand::kUsageError;
      if (i + 1 >= argc) return *error = name + " needs a value", ReplayCommand::kUsageError;
      value = argv[++i];
    }
    const char *v = value.c_str();
    long n;
    double d;
    if (name == "--target") {
      if (!split_target(value, &o->host, &o->port))
        return *error = "--target " + value + ": expected HOST:PORT with a port from 1 to 65535",
               ReplayCommand::kUsageError;
      have_target = true;
    } else if (name == "--workers") {
      if (!parse_worker_list(v, &o->workers))
        return *error =
                   "--workers " + value + ": expected worker numbers from 0 to 255 such as 0,2,4-7",
               ReplayCommand::kUsageError;
    } else if (name == "--speed") {
      if (!read_double(v, &d) || d <= 0 || d > 1e9)
        return *error = "--speed " + value + ": expected a factor above 0 and at most 1e9",
               ReplayCommand::kUsageError;
      o->speed = d;
    } else if (name == "--duration") {
      if (!read_double(v, &d) || d <= 0 || d > 1e7)
        return *error = "--duration " + value + ": expected seconds above 0",
               ReplayCommand::kUsageError;
      o->duration_s = d;
    } else if (name == "--connections-per-user") {
      if (!read_long(v, 1, 64, &n))
        return *error =
                   "--connections-per-user " + value + ": expected a whole number from 1 to 64",
               ReplayCommand::kUsageError;
      o->connections_per_user = static_cast<int>(n);
    } else if (name == "--timeout") {
      if (!read_long(v, 1, 3600000, &n))
        return *error = "--timeout " + value + ": expected milliseconds from 1 to 3600000",
               ReplayCommand::kUsageError;
      o->timeout_ms = static_cast<int>(n);
    } else if (name == "--threads") {
      if (!read_long(v, 1, 64, &n))
        return *error = "--threads " + value + ": expected a whole number from 1 to 64",
               ReplayCommand::kUsageError;
      o->threads = static_cast<int>(n);
    } else if (name == "--json") {
      if (value.empty()) return *error = "--json needs a file name", ReplayCommand::kUsageError;
      o->json_path = value;
    } else {
      return *error = "unknown option " + name, ReplayCommand::kUsageError;
    }
  }
  if (o->dir.empty()) return *error = "no package directory given", ReplayCommand::kUsageError;
  if (!have_target) return *error = "no --target HOST:PORT given", ReplayCommand::kUsageError;
  return ReplayCommand::kRun;
}

void print_replay_usage(FILE *out) {
  fprintf(out,
          "usage: vt_replay DIR --target HOST:PORT [--workers LIST] [--speed FACTOR]\n"
          "                 [--duration SECONDS] [--connections-per-user N] [--timeout MS]\n"
          "                 [--threads N] [--json FILE] [--quiet]\n"
          "\n"
          "Sends the requests of the replay package in DIR (vt_index_<w>, vt_req_<w>) to\n"
          "HOST:PORT, each user on its own keep-alive connection at its recorded times,\n"
          "and prints a report of what came back.\n"
          "\n"
          "  --target HOST:PORT         where to connect (the requests are sent unchanged)\n"
          "  --workers LIST             only these workers, e.g. 0,2,4-7 (default: all)\n"
          "  --speed FACTOR             send at start + time / FACTOR (default 1)\n"
          "  --duration SECONDS         stop sending after this long (default: no limit)\n"
          "  --connections-per-user N   requests a user may have in flight (default 1)\n"
          "  --timeout MS               per request, and the wait for answers at a stop\n"
          "                             (default 10000)\n"
          "  --threads N                sending threads, the users dealt among them (default 1)\n"
          "  --json FILE                also write the report as JSON into FILE (new file)\n"
          "  --quiet                    no progress line\n"
          "  --help, --version\n"
          "\n"
          "Exit status: 0 when the package was replayed (failed requests are reported,\n"
          "not fatal), 1 on a broken package, an unreachable target or a failed report\n"
          "write, 2 on a usage error, 130 when interrupted (after the report so far).\n");
}
