#include "tools/sink/sink_options.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>

namespace {

bool read_long(const std::string &text, long min, long max, long *value) {
  if (text.empty()) return false;
  char *end;
  errno = 0;
  long v = strtol(text.c_str(), &end, 10);
  if (*end || errno || v < min || v > max) return false;
  *value = v;
  return true;
}

// "200", "200,503": status codes from 100 to 599 (no 1xx: an interim answer
// is not one).
bool read_statuses(const std::string &text, std::vector<int> *statuses) {
  statuses->clear();
  size_t at = 0;
  while (true) {
    size_t comma = text.find(',', at);
    long code;
    if (!read_long(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at),
                   200, 599, &code))
      return false;
    statuses->push_back(static_cast<int>(code));
    if (comma == std::string::npos) return true;
    at = comma + 1;
  }
}

SinkCommand usage_error(std::string *error, const std::string &text) {
  *error = text;
  return SinkCommand::kUsageError;
}

}  // namespace

SinkCommand parse_sink_options(int argc, char **argv, SinkOptions *o, std::string *error) {
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return SinkCommand::kHelp;
    if (arg == "--version") return SinkCommand::kVersion;
    if (arg == "--background" || arg == "--quiet") {
      (arg == "--quiet" ? o->quiet : o->background) = true;
      continue;
    }
    std::string name = arg, value;
    size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    } else if (arg == "--port" || arg == "--status" || arg == "--seconds" ||
               arg == "--port-file" || arg == "--pid-file") {
      if (i + 1 >= argc) return usage_error(error, arg + " needs a value");
      value = argv[++i];
    } else {
      return usage_error(error, (arg.compare(0, 1, "-") == 0 ? "unknown option " : "unexpected argument ") + arg);
    }
    long n;
    if (name == "--port") {
      if (!read_long(value, 0, 65535, &n))
        return usage_error(error, "--port " + value + ": expected a port from 0 (any free one) to 65535");
      o->port = static_cast<int>(n);
    } else if (name == "--status") {
      if (!read_statuses(value, &o->statuses))
        return usage_error(error, "--status " + value + ": expected status codes from 200 to 599 such as 200,503");
    } else if (name == "--seconds") {
      char *end;
      errno = 0;
      double s = strtod(value.c_str(), &end);
      if (value.empty() || *end || errno || !isfinite(s) || s <= 0 || s > 86400)
        return usage_error(error, "--seconds " + value + ": expected seconds above 0 and at most 86400");
      o->seconds = s;
    } else if (name == "--port-file" || name == "--pid-file") {
      if (value.empty()) return usage_error(error, name + " needs a file name");
      (name == "--port-file" ? o->port_file : o->pid_file) = value;
    } else {
      return usage_error(error, "unknown option " + name);
    }
  }
  return SinkCommand::kRun;
}

void print_sink_usage(FILE *out) {
  fprintf(out,
          "usage: vt_sink [--port N] [--status LIST] [--seconds N] [--port-file FILE]\n"
          "               [--pid-file FILE] [--background] [--quiet]\n"
          "\n"
          "A small HTTP/1.1 server on 127.0.0.1 for trying vt_replay: it reads every\n"
          "request whole and answers it with the next status of LIST, and at the end\n"
          "prints what it received.\n"
          "\n"
          "  --port N          the port to listen on (default 0: any free port)\n"
          "  --status LIST     statuses to answer with, in turn (default 200), e.g. 200,503\n"
          "  --seconds N       stop after N seconds (default 600)\n"
          "  --port-file FILE  write the port into FILE (a new file) once listening\n"
          "  --pid-file FILE   write the serving process's id into FILE (a new file)\n"
          "  --background      return once listening and serve in the background;\n"
          "                    stop it with kill (SIGTERM)\n"
          "  --quiet           no summary at the end\n"
          "  --help, --version\n"
          "\n"
          "Exit status: 0 after serving (stopped by SIGTERM, SIGINT or --seconds), 1 when\n"
          "it cannot listen or write a file, 2 on a usage error.\n");
}
