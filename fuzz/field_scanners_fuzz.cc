// The field scanners (customer id, element value, creation timestamp,
// service name from a URL) over one arbitrary line.
#include <stddef.h>
#include <stdint.h>

#include "fuzz/fuzz_main.h"
#include "fuzz/parser_fuzz_case.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  trap_on_failure("field_scanners_fuzz", run_field_fuzz_case(data, size));
  return 0;
}
