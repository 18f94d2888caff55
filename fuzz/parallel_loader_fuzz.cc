// The parallel loader over one input cut into files: one thread and several
// must give the same records and services in the same order. The first two
// bytes choose the modes, the thread count and the cut (fuzz/parser_fuzz_case.h).
#include <stddef.h>
#include <stdint.h>

#include "fuzz/fuzz_main.h"
#include "fuzz/parser_fuzz_case.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  trap_on_failure("parallel_loader_fuzz", run_loader_fuzz_case(data, size));
  return 0;
}
