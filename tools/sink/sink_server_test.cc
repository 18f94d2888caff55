#include "tools/sink/sink_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "base/core/open_descriptors_test_support.h"

namespace {

// A free port taken on 127.0.0.1; one listened on refused (sink_test.sh), its socket closed.
TEST(SinkListener, AFreePortOrARefusal) {
  int port = 0;
  std::string error;
  int fd = open_sink_listener(0, &port, &error);
  ASSERT_GE(fd, 0) << error;
  EXPECT_GT(port, 0);
  long open = vt_open_descriptors();
  int again = 7;
  EXPECT_EQ(open_sink_listener(port, &again, &error), -1);
  EXPECT_EQ(again, 7);
  EXPECT_EQ(vt_open_descriptors(), open);
  close(fd);
}

}  // namespace
