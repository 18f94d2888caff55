// vt_loggen: writes a synthetic capture log tree for tests and benchmarks of
// vtu_replay_gen, and prints the counts the tool should report for it.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "base/core/std_descriptors.h"
#include "tools/loggen/loggen_options.h"
#include "tools/loggen/loggen_writer.h"

#ifndef VT_VERSION
#define VT_VERSION "unknown"
#endif

int main(int argc, char **argv) {
  if (!vtlb_open_std_descriptors()) {
    fprintf(stderr, "vt_loggen: cannot open /dev/null for a closed standard descriptor: %s\n",
            strerror(errno));
    return 1;
  }
  LoggenOptions o;
  std::string error;
  bool help = false;
  LoggenRequest request;
  if (!parse_loggen_options(argc, argv, &o, &error, &help, &request)) {
    fprintf(stderr, "vt_loggen: %s\n", error.c_str());
    fprintf(stderr, "Try '%s --help' for more information.\n", argv[0]);
    return 2;
  }
  if (request == LoggenRequest::kHelp) {
    print_loggen_usage(stdout, argv[0]);
    return 0;
  }
  if (request == LoggenRequest::kVersion) {
    printf("vt_loggen %s\n", VT_VERSION);
    return 0;
  }
  LoggenSummary summary;
  if (!generate_logs(o, &summary, &error)) {
    fprintf(stderr, "vt_loggen: %s\n", error.c_str());
    return 1;
  }
  print_loggen_summary(stdout, o, summary);
  return 0;
}
