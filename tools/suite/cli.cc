#include "tools/suite/cli.h"

#include <stdio.h>
#include <unistd.h>

int suite_fail(const char *prog, const std::string &message) {
  fprintf(stderr, "%s: %s\n", prog, message.c_str());
  return 1;
}

int suite_usage_error(const char *prog, const std::string &message, const char *usage) {
  suite_fail(prog, message);
  fprintf(stderr, "usage: %s %s\n", prog, usage);
  return 1;
}

int suite_option_error(const char *prog, int c, const char *usage) {
  std::string opt = std::string("-") + static_cast<char>(optopt);
  return suite_usage_error(
      prog, c == ':' ? "option " + opt + " needs a value" : "unknown option " + opt, usage);
}
