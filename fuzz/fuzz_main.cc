#include "fuzz/fuzz_main.h"

#include <locale.h>
#include <stdio.h>

// The scanners print each URL path on standard output; libFuzzer reports on
// standard error, which stays as it is.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!freopen("/dev/null", "w", stdout)) return 0;
  setlocale(LC_ALL, "en_US");  // as the tool runs: grouped numbers in messages
  return 0;
}

void trap_on_failure(const char *target, const std::string &why) {
  if (why.empty()) return;
  fprintf(stderr, "%s: property broken: %s\n", target, why.c_str());
  fflush(stderr);
  __builtin_trap();
}
