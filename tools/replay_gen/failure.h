// Why a run stops early, as a value: a function that meets a fatal condition
// fills a Failure and returns false, and its callers pass it up unchanged to
// the driver, which writes it once and ends the process with its status
// (fatal.h). A dry run reports it instead.
#ifndef VT_REPLAY_GEN_FAILURE_H_
#define VT_REPLAY_GEN_FAILURE_H_

#include <string>
#include <vector>

#include "tools/replay_gen/log.h"

// One line of a failure, in the order they are written: an error line
// ("<fname>:<text>" through error_log, level 1) or a text written as it is to
// standard output or error (the usage text, the system's own words).
struct FailureLine {
  enum Kind : char { kError, kOut, kErr };
  Kind kind;
  std::string fname;  // of an error line
  std::string text;
};

struct Failure {
  int status = 0;  // the exit status; 0 while nothing failed
  std::vector<FailureLine> lines;
};

// Adds the error line of fname and the formatted message to *f, whose
// status becomes -1 unless it has one; returns false.
bool fail(Failure *f, const char *fname, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
// The same, ending the run with status.
bool fail_with(Failure *f, int status, const char *fname, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// Adds text for standard output (to_stdout) or error, written as it is.
bool fail_text(Failure *f, bool to_stdout, const std::string &text);

// "Out of Memory: <what> (size = <size>) for index <index>" from fname.
// Callers that report a size as a 32-bit number pass it cast to int.
bool out_of_memory(Failure *f, const char *fname, const char *what, long long size, int index = -1);

// Writes the failure's lines: error lines under the error gate, texts as
// they are.
void write_failure(const LogGates &log, const Failure &f);

#endif  // VT_REPLAY_GEN_FAILURE_H_
