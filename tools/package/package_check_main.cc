// vt_package_check DIR: checks that the index files of a replay directory
// locate every entry of its request files; exit status 0 when they do.
#include <stdio.h>

#include "tools/package/package_check.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s REPLAY_DIR\n", argv[0]);
    return 2;
  }
  PackageSummary summary;
  std::vector<std::string> problems = check_replay_package(argv[1], &summary);
  size_t shown = 0;
  for (const std::string &p : problems) {
    if (++shown > 20) break;
    fprintf(stderr, "%s\n", p.c_str());
  }
  printf("package_check: %d workers, %lu users, %lu requests, %zu problems\n", summary.workers,
         static_cast<unsigned long>(summary.users), static_cast<unsigned long>(summary.requests),
         problems.size());
  return problems.empty() ? 0 : 1;
}
