// The machine's processor count as the run sees it: the suite's count, asked
// where the run needs it (the default worker count when the run starts, the
// loader's thread count in Step 2), each time through this one function.
#ifndef VT_REPLAY_GEN_CPU_COUNT_H_
#define VT_REPLAY_GEN_CPU_COUNT_H_

// The count, or -1 when it cannot be had.
int run_num_cpu();

#endif  // VT_REPLAY_GEN_CPU_COUNT_H_
