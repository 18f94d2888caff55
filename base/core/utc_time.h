// Moments as ISO 8601 text in UTC, for files that other programs read.
#ifndef VT_BASE_CORE_UTC_TIME_H_
#define VT_BASE_CORE_UTC_TIME_H_

#include <stdint.h>

#include <string>

// "2026-12-01T09:30:00Z" for a time in ms since the epoch; with_ms adds the
// milliseconds ("2026-12-01T09:30:00.123Z"). Empty when the time does not
// convert.
std::string vtlb_utc_iso(uint64_t ms, bool with_ms);

// "2026-12-01 09:30:00.123 UTC": the same moment for people to read.
std::string vtlb_utc_text(uint64_t ms);

#endif  // VT_BASE_CORE_UTC_TIME_H_
