// vt_package_check [--] REPLAY_DIR: checks that the index files of a replay
// directory locate every entry of its request files; exit status 0 when they
// do, 1 when they do not, 2 on a usage error.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <new>

#include "base/core/std_descriptors.h"
#include "tools/package/package_check.h"

#ifndef VT_VERSION
#define VT_VERSION "unknown"
#endif

namespace {

void print_usage(FILE *out, const char *prog) {
  fprintf(out,
          "Usage: %s [--trust-foreign-files] [--] REPLAY_DIR\n"
          "Checks a replay package: every group of the index files vt_index_<w> must land on\n"
          "one whole entry of vt_req_<w> whose Content-Length matches its body, and the\n"
          "entries must tile each request file with no gap.\n"
          "Exit status: 0 sound, 1 problems found, 2 usage error.\n"
          "  --trust-foreign-files  accept files of other owners\n"
          "  --help       this text\n"
          "  --version    the version\n",
          prog);
}

// Usage errors name the fault, then point at --help; status 2.
int usage_error(const char *prog, const char *what, const char *arg) {
  fprintf(stderr, "vt_package_check: %s%s\n", what, arg);
  fprintf(stderr, "Try '%s --help' for more information.\n", prog);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (!vtlb_open_std_descriptors()) {
    fprintf(stderr,
            "vt_package_check: cannot open /dev/null for a closed standard descriptor: %s\n",
            strerror(errno));
    return 1;
  }
  const char *prog = argv[0];
  const char *dir = nullptr;
  bool options_done = false, trust_foreign = false;
  for (int k = 1; k < argc; k++) {
    const char *arg = argv[k];
    if (!options_done && strcmp(arg, "--") == 0) {
      options_done = true;
    } else if (!options_done && strcmp(arg, "--help") == 0) {
      print_usage(stdout, prog);
      return 0;
    } else if (!options_done && strcmp(arg, "--version") == 0) {
      printf("vt_package_check %s\n", VT_VERSION);
      return 0;
    } else if (!options_done && strcmp(arg, "--trust-foreign-files") == 0) {
      trust_foreign = true;
    } else if (!options_done && arg[0] == '-' && arg[1] != '\0') {
      return usage_error(prog, "unknown option ", arg);
    } else if (dir) {
      return usage_error(prog, "more than one replay directory: ", arg);
    } else {
      dir = arg;
    }
  }
  if (!dir) return usage_error(prog, "no replay directory given", "");

  PackageSummary summary;
  std::vector<std::string> problems;
  try {
    problems = check_replay_package(dir, &summary, trust_foreign);
  } catch (const std::bad_alloc &) {
    fprintf(stderr, "vt_package_check: out of memory\n");
    return 1;
  }
  size_t shown = 0;
  for (const std::string &p : problems) {
    if (++shown > 20) break;
    fprintf(stderr, "%s\n", p.c_str());
  }
  printf("package_check: %d workers, %lu users, %lu requests, %zu problems\n", summary.workers,
         static_cast<unsigned long>(summary.users), static_cast<unsigned long>(summary.requests),
         problems.size());
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "vt_package_check: writing the summary failed\n");
    return 1;
  }
  return problems.empty() ? 0 : 1;
}
