// Standard input, output and error of a program started with some of them
// closed (by a service manager, a cron wrapper, `prog <&- >&-`): the first
// files it opens would take descriptors 0 to 2, and its console lines would
// go into them.
#ifndef VT_BASE_CORE_STD_DESCRIPTORS_H_
#define VT_BASE_CORE_STD_DESCRIPTORS_H_

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed. Call
// it first in main, before anything is opened. False when /dev/null cannot
// be opened: the program must then end at once.
bool vtlb_open_std_descriptors();

#endif  // VT_BASE_CORE_STD_DESCRIPTORS_H_
