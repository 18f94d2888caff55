#include "tools/replay_gen/fatal.h"

#include <stdio.h>
#include <unistd.h>

#include "tools/replay_gen/interrupt.h"

#ifdef VT_COVERAGE
// Writes the coverage counters; _exit would skip it.
extern "C" void __gcov_dump(void);
#endif

void exit_on_failure(const LogGates &log, const Failure &f) {
  write_failure(log, f);
  remove_interrupt_gen_input();
  fflush(nullptr);
#ifdef VT_COVERAGE
  __gcov_dump();
#endif
  _exit(f.status ? f.status : -1);
}
