#include "base/core/utc_time.h"

#include <stdio.h>
#include <time.h>

namespace {

bool utc_parts(uint64_t ms, struct tm *t) {
  time_t seconds = static_cast<time_t>(ms / 1000);
  return static_cast<uint64_t>(seconds) == ms / 1000 && gmtime_r(&seconds, t) != nullptr;
}

}  // namespace

std::string vtlb_utc_iso(uint64_t ms, bool with_ms) {
  struct tm t;
  if (!utc_parts(ms, &t)) return "";
  char text[64];
  if (with_ms)
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
             t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(ms % 1000));
  else
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.tm_year + 1900, t.tm_mon + 1,
             t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string vtlb_utc_text(uint64_t ms) {
  struct tm t;
  if (!utc_parts(ms, &t)) return "";
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d UTC", t.tm_year + 1900,
           t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(ms % 1000));
  return text;
}
