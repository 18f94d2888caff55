#include "base/core/utc_time.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

namespace {

// UTC whatever the local zone; the epoch, a leap day, and the last millisecond of a year.
TEST(UtcTime, IsoAndReadableText) {
  setenv("TZ", "America/New_York", 1);
  tzset();
  EXPECT_EQ(vtlb_utc_iso(0, false), "1970-01-01T00:00:00Z");
  EXPECT_EQ(vtlb_utc_iso(1795000000123, true), "2026-11-18T11:06:40.123Z");
  EXPECT_EQ(vtlb_utc_iso(1709164800005, true), "2024-02-29T00:00:00.005Z");
  EXPECT_EQ(vtlb_utc_text(1767225599999), "2025-12-31 23:59:59.999 UTC");
  unsetenv("TZ");
  tzset();
}

}  // namespace
