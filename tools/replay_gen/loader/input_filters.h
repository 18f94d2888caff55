// Step 1: the directory listing filters and orders, and the date and number
// readers they rely on.
#ifndef VT_REPLAY_GEN_LOADER_INPUT_FILTERS_H_
#define VT_REPLAY_GEN_LOADER_INPUT_FILTERS_H_

#include <dirent.h>
#include <stdint.h>

#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

// Earliest and latest dates a date range may name: their local midnights fit
// the 32-bit timestamps in every time zone.
constexpr int kFirstRangeDate = 19710101;
constexpr int kLastRangeDate = 21051231;

// 1 when every character of text is a decimal digit (also when text is empty).
int32_t vt_is_numeric(const char *text);

// Local midnight of the day YYYYMMDD given by the first eight characters.
uint32_t get_timestamp(const char *date);

// True when text begins with eight digits forming a real calendar date from
// kFirstRangeDate to kLastRangeDate.
bool begins_with_range_date(const char *text);

// Filters of the directory listings, given each entry's name in listing
// order: true selects it.
bool check_dir_format(const char *name);                          // exactly 8 characters
bool check_dir_range(const InputFiles &files, const char *name);  // date within the range
bool filter_file_name(const LogGates &log, const char *name);     // "SOAP.log" and a number
bool filter_file_name_and_range(const InputFiles &files, const char *name);  // 9th character

// scandir order: ascending number from the 10th character of the name on.
int my_alpha_sort(const struct dirent **a, const struct dirent **b);

#endif  // VT_REPLAY_GEN_LOADER_INPUT_FILTERS_H_
