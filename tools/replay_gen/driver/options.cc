#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "tools/replay_gen/driver/driver.h"
#include "tools/replay_gen/error_log_path.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/trace_names.h"

#ifndef VT_VERSION
#define VT_VERSION "unknown"
#endif

namespace {

// The usage text: "Usage:" with the program's name, "Where:", the lines.
std::string usage_text(const char *exename) {
  return std::string("Usage: ") + exename +
         " -i <ConfigFile> [-f] [-d debug level] [-c <count for commentry>] [-p 0/1]\n" + "Where:" +
         "\t-i is used to specify config file \n"
         "\t-f is to run forcefully i.e. to delete old files and scripts/scenario if present\n"
         "\t-d is to enable debug with different levels\n"
         "\t-c is count of request after which progress is shown. Default is auto. Use 0 to "
         "disable commentry\n"
         "\t-u       use service name for page id\n"
         "\t-p       use to do parameterization for creation timestamp\n";
}

}  // namespace

bool print_help_or_version(int argc, char **argv) {
  static const struct option kQuestions[] = {
      {"help", no_argument, nullptr, 'H'}, {"version", no_argument, nullptr, 'V'}, {}};
  // A first pass that only looks for the two, silent on everything else: the
  // options are read again, with their complaints, by parse_options.
  opterr = 0;
  int c, asked = 0;
  while (!asked && (c = getopt_long(argc, argv, "i:c:d:fuNn:p:", kQuestions, nullptr)) != -1)
    if (c == 'H' || c == 'V') asked = c;
  opterr = 1;
  optind = 0;  // the next getopt starts afresh
  if (asked == 'H') fputs(usage_text(argv[0]).c_str(), stdout);
  if (asked == 'V') printf("vtu_replay_gen %s\n", VT_VERSION);
  return asked != 0;
}

namespace {

bool take_config_name(RunState &run, const char *arg, Failure *err) {
  if (strlen(arg) > static_cast<size_t>(kConfigNameMax))
    return fail(err, trace_name::kMain,
                "Config file name is %zu characters long; at most %d are allowed.", strlen(arg),
                kConfigNameMax);
  run.options.config_path = arg;
  return true;
}

// The count is read whole: a value that is negative, also only in 16 bits,
// keeps its old message; one above kMaxLoaderThreads is refused as written.
bool take_thread_count(RunState &run, const char *arg, Failure *err) {
  long count = strtol(arg, nullptr, 10);
  if (count < 0 || static_cast<int16_t>(count) < 0)
    return fail(err, trace_name::kMain,
                "value given with -n(number of threads) should be greater than 0\n");
  if (count > kMaxLoaderThreads)
    return fail(err, trace_name::kMain,
                "value given with -n(number of threads) is %s; at most %d are allowed", arg,
                kMaxLoaderThreads);
  run.options.g_num_thread = static_cast<int16_t>(count);
  return true;
}

}  // namespace

bool print_usage(const char *exename, Failure *err) {
  return fail_text(err, false, usage_text(exename));
}

bool parse_options(RunState &run, int argc, char **argv, int *i_flag, Failure *err) {
  *i_flag = 0;
  int c;
  while ((c = getopt(argc, argv, "i:c:d:fuNn:p:")) != -1) {
    switch (c) {
      case 'i':
        if (!take_config_name(run, optarg, err)) return false;
        ++*i_flag;
        break;
      case 'c':
        run.options.commentry_req_count = atoi(optarg);
        break;
      case 'd':
        run.log.debug_level = run.log.info_level = run.log.error_level = atoi(optarg);
        break;
      case 'f':
        run.options.run_forcefully = 1;
        if (run.log.debug_level)
          debug_log(run.log, 2, trace_name::kMain,
                    "You have given -f option to delete the existing replay, scenario and script "
                    "directory.\n");
        break;
      case 'u':
        run.options.svc_id_uses_svc_name = 0;
        break;
      case 'N':
        run.options.one_sort_algo = 1;
        if (run.log.debug_level)
          debug_log(run.log, 2, trace_name::kMain,
                    "one sort algo selected - this is used only for -n\n");
        break;
      case 'n':
        if (!take_thread_count(run, optarg, err)) return false;
        break;
      case 'p':
        run.options.do_parameterization = atoi(optarg);
        break;
      default:
        return print_usage(argv[0], err);
    }
  }
  return true;
}
