// One way of reading a command line for every program: glibc's getopt_long
// in its GNU form (options and operands in any order, "--" ends the
// options, a long option as --name VALUE or --name=VALUE, short options as
// -o VALUE or -oVALUE), with the messages each program writes itself. A
// long option goes by its whole name: getopt_long's prefixes are refused,
// so that a new option never changes what an old command line means.
#ifndef VT_BASE_CORE_COMMAND_LINE_H_
#define VT_BASE_CORE_COMMAND_LINE_H_

#include <getopt.h>

#include <functional>
#include <string>
#include <vector>

enum class CommandLineFault {
  kNone,
  kUnknown,       // an option the program does not know (a prefix of one included)
  kNeedsValue,    // an option that takes a value, last on the line
  kTakesNoValue,  // --flag=VALUE
  kRefused,       // on_option refused the value (its message is the program's)
};

struct CommandLineError {
  CommandLineFault fault = CommandLineFault::kNone;
  std::string option;  // as given: "--bogus", "-x", "--timeout"
};

// Reads argv[1..argc) (argv[0] names the program or the command): calls
// on_option(key, value) for each option in order, key being the option's
// `val` (value null for an option without one), and appends the operands.
// False at the first fault, with *error saying which.
bool vtlb_read_command_line(int argc, char **argv, const char *short_options,
                            const option *long_options,
                            const std::function<bool(int key, const char *value)> &on_option,
                            std::vector<std::string> *operands, CommandLineError *error);

// The usual message of a fault other than kRefused: "unknown option --x",
// "--x needs a value", "--x takes no value".
std::string vtlb_command_line_message(const CommandLineError &error);

#endif  // VT_BASE_CORE_COMMAND_LINE_H_
