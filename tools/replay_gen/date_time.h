// The date-time text of the step and progress lines.
#ifndef VT_REPLAY_GEN_DATE_TIME_H_
#define VT_REPLAY_GEN_DATE_TIME_H_

#include <stdint.h>

// Writes "mm/dd/yy HH:MM:SS" of the local time into time_string, or into a
// static buffer (main thread only) when it is null; returns the buffer.
char *get_cur_date_time(char *time_string);
// The same text for a given moment.
char *format_date_time(int64_t seconds, char *time_string);

#endif  // VT_REPLAY_GEN_DATE_TIME_H_
