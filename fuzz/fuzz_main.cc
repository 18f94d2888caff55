// One libFuzzer target: VT_FUZZ_CASE on every input, a trap on a broken property. Standard
// output is quiet (the scanners print URL paths; libFuzzer reports on standard error).
#include <locale.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

#include "fuzz/fuzz_cases.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!freopen("/dev/null", "w", stdout)) return 0;
  setlocale(LC_ALL, "en_US");  // as the tool runs: grouped numbers in messages
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string why = VT_FUZZ_CASE(data, size);
  if (why.empty()) return 0;
  fprintf(stderr, "%s: property broken: %s\n", VT_FUZZ_TARGET, why.c_str());
  fflush(stderr);
  __builtin_trap();
}
