// The machine's processor count as the run sees it: asked once, then kept, so
// that the default worker count and the loader's thread count agree.
#ifndef VT_REPLAY_GEN_CPU_COUNT_H_
#define VT_REPLAY_GEN_CPU_COUNT_H_

// The count, or -1 when it cannot be had.
int run_num_cpu();

#endif  // VT_REPLAY_GEN_CPU_COUNT_H_
