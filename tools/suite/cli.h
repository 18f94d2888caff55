// Messages and option handling shared by the suite's stand-in commands.
#ifndef VT_SUITE_CLI_H_
#define VT_SUITE_CLI_H_

#include <string>

// Prints "<prog>: <message>" on standard error; returns the failure status 1.
int suite_fail(const char *prog, const std::string &message);

// Prints "<prog>: <message>" and then the usage line; returns 1.
int suite_usage_error(const char *prog, const std::string &message, const char *usage);

// Reports what getopt (run with a leading ":" in its option string) returned
// for a bad option c, then the usage line; returns 1.
int suite_option_error(const char *prog, int c, const char *usage);

// The message of a command that found a standard descriptor closed and could
// not open /dev/null on it.
constexpr const char kNoDevNull[] = "cannot open /dev/null for a closed standard descriptor";

#endif  // VT_SUITE_CLI_H_
