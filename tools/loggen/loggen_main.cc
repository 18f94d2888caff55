// vt_loggen: writes a synthetic capture log tree for tests and benchmarks of
// vtu_replay_gen, and prints the counts the tool should report for it.
#include <stdio.h>

#include <string>

#include "tools/loggen/loggen_options.h"
#include "tools/loggen/loggen_writer.h"

int main(int argc, char **argv) {
  LoggenOptions o;
  std::string error;
  bool help = false;
  if (!parse_loggen_options(argc, argv, &o, &error, &help)) {
    fprintf(stderr, "vt_loggen: %s\n", error.c_str());
    print_loggen_usage(stderr, argv[0]);
    return 2;
  }
  if (help) {
    print_loggen_usage(stdout, argv[0]);
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
