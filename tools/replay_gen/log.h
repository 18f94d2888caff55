// Console logging: three gated log calls, each writing one line with one
// formatted write, so that lines of different threads never mix.
#ifndef VT_REPLAY_GEN_LOG_H_
#define VT_REPLAY_GEN_LOG_H_

#include <stdio.h>

#include <string>

// Room of a log line: at most kLogLineMax characters before the line end.
constexpr int kLogBufSize = 102401;
constexpr int kLogLineMax = 102399;

// "%s\n" of indent and message on stdout when level <= info_level.
void info_log(int level, const char *indent, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
// "%s:%s\n" of fname and message on stdout when level <= debug_level.
void debug_log(int level, const char *fname, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
// "%s:%s\n" of fname and message on stderr when level <= error_level, its
// control characters shown by printable_text.
void error_log(int level, const char *fname, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// text with its control characters written as \r, \n, \t or \xHH, except
// the line ends it finishes with.
std::string printable_text(const char *text);

// Opens a stream; on failure reports "Unable to open file %s" and returns null.
// A file opened to read ("r") must be a regular file; another is refused
// without waiting on it ("Unable to open file %s: a named pipe, not a regular
// file").
FILE *open_file(const char *file_name, const char *mode);

#endif  // VT_REPLAY_GEN_LOG_H_
