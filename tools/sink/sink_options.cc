#include "tools/sink/sink_options.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>

#include "base/core/command_line.h"

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

enum { kPort = 1000, kStatus, kSeconds, kPortFile, kPidFile, kBackground, kQuiet, kVersion };

const option kOptions[] = {{"port", required_argument, nullptr, kPort},
                           {"status", required_argument, nullptr, kStatus},
                           {"seconds", required_argument, nullptr, kSeconds},
                           {"port-file", required_argument, nullptr, kPortFile},
                           {"pid-file", required_argument, nullptr, kPidFile},
                           {"background", no_argument, nullptr, kBackground},
                           {"quiet", no_argument, nullptr, kQuiet},
                           {"help", no_argument, nullptr, 'h'},
                           {"version", no_argument, nullptr, kVersion},
                           {nullptr, 0, nullptr, 0}};

// One option's value into o; false with *error naming it.
bool take_option(int key, const std::string &value, SinkOptions *o, std::string *error) {
  long n;
  switch (key) {
    case kPort:
      if (!read_long(value, 0, 65535, &n))
        return *error = "--port " + value + ": expected a port from 0 (any free one) to 65535",
               false;
      o->port = static_cast<int>(n);
      return true;
    case kStatus:
      if (!read_statuses(value, &o->statuses))
        return *error =
                   "--status " + value + ": expected status codes from 200 to 599 such as 200,503",
               false;
      return true;
    case kSeconds: {
      char *end;
      errno = 0;
      double s = strtod(value.c_str(), &end);
      if (value.empty() || *end || errno || !isfinite(s) || s <= 0 || s > 86400)
        return *error = "--seconds " + value + ": expected seconds above 0 and at most 86400",
               false;
      o->seconds = s;
      return true;
    }
    case kPortFile:
    case kPidFile:
      if (value.empty())
        return *error = std::string(key == kPortFile ? "--port-file" : "--pid-file") +
                        " needs a file name",
               false;
      (key == kPortFile ? o->port_file : o->pid_file) = value;
      return true;
    case kBackground:
      o->background = true;
      return true;
    case kQuiet:
      o->quiet = true;
      return true;
  }
  return false;
}

}  // namespace

SinkCommand parse_sink_options(int argc, char **argv, SinkOptions *o, std::string *error) {
  SinkCommand asked = SinkCommand::kRun;
  std::vector<std::string> operands;
  CommandLineError bad;
  bool read = vtlb_read_command_line(
      argc, argv, "h", kOptions,
      [&](int key, const char *value) {
        if (key == 'h' || key == kVersion) {
          asked = key == 'h' ? SinkCommand::kHelp : SinkCommand::kVersion;
          return false;
        }
        return take_option(key, value ? value : "", o, error);
      },
      &operands, &bad);
  if (asked != SinkCommand::kRun) return asked;
  if (!read && bad.fault != CommandLineFault::kRefused) *error = vtlb_command_line_message(bad);
  if (read && !operands.empty()) *error = "unexpected argument " + operands[0];
  return read && operands.empty() ? SinkCommand::kRun : SinkCommand::kUsageError;
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
