#include "tools/replay_gen/output/gen_input_file.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tools/replay_gen/records.h"

namespace {

TEST(GeneratorInputFile, CreatedEmptyUnderTmpWithThePid) {
  create_file_for_vtu_gen_script();
  ASSERT_NE(vtu_gen_script_fp, nullptr);
  std::string expected = "/tmp/filename_" + std::to_string(getpid());
  EXPECT_EQ(vtu_gen_script_file_name, expected);
  struct stat st;
  ASSERT_EQ(stat(expected.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  fclose(vtu_gen_script_fp);
  vtu_gen_script_fp = nullptr;
  unlink(expected.c_str());
}

}  // namespace
