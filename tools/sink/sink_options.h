// Command line of vt_sink.
#ifndef VT_TOOLS_SINK_SINK_OPTIONS_H_
#define VT_TOOLS_SINK_SINK_OPTIONS_H_

#include <stdio.h>

#include <string>
#include <vector>

struct SinkOptions {
  int port = 0;                    // --port: 0 for any free port
  std::vector<int> statuses{200};  // --status: answered in turn
  double seconds = 600;            // --seconds: the longest the sink runs
  std::string port_file;           // --port-file: the port, once listening (a new file)
  std::string pid_file;            // --pid-file: the serving process's id (a new file)
  bool background = false;         // --background: return once listening, serve on
  bool quiet = false;              // --quiet: no summary at the end
};

enum class SinkCommand { kRun, kHelp, kVersion, kUsageError };

SinkCommand parse_sink_options(int argc, char **argv, SinkOptions *o, std::string *error);

void print_sink_usage(FILE *out);

#endif  // VT_TOOLS_SINK_SINK_OPTIONS_H_
