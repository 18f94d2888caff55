// Options of vt_loggen, the generator of synthetic capture log trees.
#ifndef VT_LOGGEN_LOGGEN_OPTIONS_H_
#define VT_LOGGEN_LOGGEN_OPTIONS_H_

#include <stdint.h>
#include <stdio.h>

#include <string>

struct LoggenOptions {
  std::string out;                 // base directory of the tree
  int64_t days = 1;                // capture days
  int64_t files_per_day = 1;       // SOAP.log.1 .. SOAP.log.N per day
  int64_t requests = 10000;        // records written, bad ones included
  int64_t customers = 1000;        // distinct customer ids
  int64_t services = 10;           // distinct SOAP actions and URLs
  bool url_per_service = false;    // every service its own URL path
  bool services_in_turn = false;   // requests go to the services in turn
  int64_t min_body = 300;          // body size range in bytes
  int64_t max_body = 40000;        //
  double large_share = 0.001;      // bodies from 2 to 25 times max_body
  double bad_share = 0.01;         // rejected records, spread over codes 101..107
  double creation_ts_share = 0.2;  // bodies with a creationTimestamp element
  double ns_share = 0.1;           // customer id elements with a namespace prefix
  double long_share = 0.1;         // customers whose visits outlast 30 minutes
  int64_t start_date = 20261201;   // first capture day, YYYYMMDD (UTC)
  int64_t day_span = 86400;        // visits start within this many seconds of a day's start
  uint64_t seed = 1;
  bool progress = true;  // progress lines on stderr
};

// What the command line asks for besides a tree.
enum class LoggenRequest { kGenerate, kHelp, kVersion };

// Reads argv into o. On a bad option returns false with the reason in error.
// Sets *help when --help was given, and *request to what was asked for when
// request is not null (--help wins over --version).
bool parse_loggen_options(int argc, char **argv, LoggenOptions *o, std::string *error, bool *help,
                          LoggenRequest *request = nullptr);

void print_loggen_usage(FILE *out, const char *prog);

#endif  // VT_LOGGEN_LOGGEN_OPTIONS_H_
