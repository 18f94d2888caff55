// Number of processors of the machine.
#ifndef VT_BASE_CORE_CPU_COUNT_H_
#define VT_BASE_CORE_CPU_COUNT_H_

// The processor count read from /proc/cpuinfo, or -1 when it cannot be had.
int vtlb_get_num_cpu();

#endif  // VT_BASE_CORE_CPU_COUNT_H_
