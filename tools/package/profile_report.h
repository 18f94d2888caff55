// A profile as a readable table and as one JSON object, and the number
// formats both (and the plot) share, so that every place shows the same
// figures.
#ifndef VT_PACKAGE_PROFILE_REPORT_H_
#define VT_PACKAGE_PROFILE_REPORT_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/html/chart.h"
#include "tools/package/profile.h"

// Milliseconds as "h:mm:ss.mmm".
std::string format_duration(uint64_t ms);
// A worker's requests against the mean of all workers, in percent: "+4.2%".
std::string format_imbalance(uint64_t requests, uint64_t total, int workers);
double imbalance_percent(uint64_t requests, uint64_t total, int workers);

// The capture's clock time of a send time, from the manifest:
// "2026-12-01 09:30:00.123 UTC".
std::string capture_clock(const Profile &p, uint64_t send_ms);

// The text of `vt_package profile`; `title` names what was profiled. With a
// manifest it adds the capture's clock times and the pages' service names.
std::string format_profile_text(const Profile &p, const std::string &title);

// The members of the JSON object, without braces; extra members (already
// formatted, with their leading comma) go after them.
std::string format_profile_json_members(const Profile &p);

#endif  // VT_PACKAGE_PROFILE_REPORT_H_
