// Console logging: three gated log calls, each writing one line with one
// formatted write, so that lines of different threads never mix.
#ifndef VT_REPLAY_GEN_LOG_H_
#define VT_REPLAY_GEN_LOG_H_

#include <stdint.h>
#include <stdio.h>

#include <string>

// Room of a log line: at most kLogLineMax characters before the line end.
constexpr int kLogBufSize = 102401;
constexpr int kLogLineMax = 102399;

// The console's gates (-d sets all three). A gate of 0 writes nothing; a
// line is written when its level is not above the gate. A quiet console (a
// dry run's) writes nothing at all, console_printf's lines included.
struct LogGates {
  int32_t debug_level = 0;
  int32_t info_level = 1;
  int32_t error_level = 1;
  bool quiet = false;
};

// "%s\n" of indent and message on stdout when level <= info_level.
void info_log(const LogGates &log, int level, const char *indent, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// "%s:%s\n" of fname and message on stdout when level <= debug_level.
void debug_log(const LogGates &log, int level, const char *fname, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// "%s:%s\n" of fname and message on stderr when level <= error_level, its
// control characters shown by printable_text.
void error_log(const LogGates &log, int level, const char *fname, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// A line of the run's own on stdout, whatever the gates say (the service
// report, the scenario's and script's lines).
void console_printf(const LogGates &log, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// text with its control characters written as \r, \n, \t or \xHH, except
// the line ends it finishes with.
std::string printable_text(const char *text);

struct Failure;

// Opens a stream; on failure returns null with the error line "Unable to
// open file %s" in *err. A file opened to read ("r") must be a regular file;
// another is refused without waiting on it ("Unable to open file %s: a named
// pipe, not a regular file").
FILE *open_file(const LogGates &log, const char *file_name, const char *mode, Failure *err);

#endif  // VT_REPLAY_GEN_LOG_H_
