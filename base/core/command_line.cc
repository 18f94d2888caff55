#include "base/core/command_line.h"

#include <string.h>

bool vtlb_read_command_line(int argc, char **argv, const char *short_options,
                            const option *long_options,
                            const std::function<bool(int key, const char *value)> &on_option,
                            std::vector<std::string> *operands, CommandLineError *error) {
  // ":" first: a missing value is told from an unknown option. "-" next:
  // operands come back in their place among the options, as key 1.
  std::string shorts = std::string("-:") + short_options;
  opterr = 0;
  optind = 0;  // glibc: start afresh, on this argv
  *error = CommandLineError{};
  while (true) {
    int at = optind ? optind : 1;
    int index = -1;
    int key = getopt_long(argc, argv, shorts.c_str(), long_options, &index);
    if (key == -1) break;
    if (key == 1) {
      operands->push_back(optarg);
      continue;
    }
    if (key == '?' || key == ':') {
      // The option as given: the word getopt stopped at (for a short option
      // inside a cluster, the letter alone).
      std::string given = at < argc ? argv[at] : "";
      if (given.compare(0, 2, "--") != 0 && optopt) given = std::string("-") + char(optopt);
      error->option = given.substr(0, given.find('='));
      error->fault = key == ':'                                 ? CommandLineFault::kNeedsValue
                     : given.compare(0, 2, "--") == 0 && optopt ? CommandLineFault::kTakesNoValue
                                                                : CommandLineFault::kUnknown;
      return false;
    }
    // A long option is known by its whole name only: a prefix that would
    // name another option once more options are added is refused today.
    if (index >= 0) {
      std::string word = at < argc ? argv[at] : "",
                  name = std::string("--") + long_options[index].name;
      if (word.substr(0, word.find('=')) != name) {
        error->fault = CommandLineFault::kUnknown;
        error->option = word.substr(0, word.find('='));
        return false;
      }
    }
    if (!on_option(key, optarg)) {
      error->fault = CommandLineFault::kRefused;
      error->option =
          index >= 0 ? std::string("--") + long_options[index].name : std::string("-") + char(key);
      return false;
    }
  }
  while (optind < argc) operands->push_back(argv[optind++]);
  return true;
}

std::string vtlb_command_line_message(const CommandLineError &error) {
  return error.fault == CommandLineFault::kUnknown      ? "unknown option " + error.option
         : error.fault == CommandLineFault::kNeedsValue ? error.option + " needs a value"
                                                        : error.option + " takes no value";
}
