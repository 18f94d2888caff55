#include "tools/replay_gen/driver/driver.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

namespace {

TEST(DateTime, FormatsLocalTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  char buf[100];
  // 4 December 2026, 16:05:09 UTC.
  EXPECT_STREQ(format_date_time(1796400309, buf), "12/04/26 16:05:09");
  unsetenv("TZ");
  tzset();
}

TEST(DefaultWorkers, ClampedIntoWorkerTable) {
  struct Case {
    int cpus, workers;
  } cases[] = {{8, 16}, {1, 2}, {128, 256}, {129, 256}, {0, 1}, {-1, 1}};
  testing::internal::CaptureStdout();
  for (const Case &c : cases) EXPECT_EQ(clamp_default_num_vvm(c.cpus), c.workers) << c.cpus;
  testing::internal::GetCapturedStdout();
}

}  // namespace
