#include "tools/replay_gen/driver/driver.h"

#include <gtest/gtest.h>

namespace {

TEST(DefaultWorkers, ClampedIntoWorkerTable) {
  struct Case {
    int cpus, workers;
  } cases[] = {{8, 16}, {1, 2}, {128, 256}, {129, 256}, {0, 1}, {-1, 1}};
  testing::internal::CaptureStdout();
  for (const Case &c : cases) EXPECT_EQ(clamp_default_num_vvm(c.cpus), c.workers) << c.cpus;
  testing::internal::GetCapturedStdout();
}

}  // namespace
