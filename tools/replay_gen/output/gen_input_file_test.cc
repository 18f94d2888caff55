#include "tools/replay_gen/output/gen_input_file.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tools/replay_gen/output/output_test_util.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

// The input file of this process id: a regular file an earlier process of the
// same id left is replaced. (A symbolic link or a named pipe in its place is
// refused: the end-to-end case safety_gen_input_planted.)
TEST(GenInputFile, ReplacesWhatAnEarlierProcessLeft) {
  std::string path = "/tmp/filename_" + std::to_string(getpid());
  write_text(path, "left by an earlier run\n");
  ASSERT_EQ(run_to_end(create_file_for_vtu_gen_script).status, 0);
  ASSERT_NE(run.script_input.vtu_gen_script_fp, nullptr);
  fclose(run.script_input.vtu_gen_script_fp);
  run.script_input.vtu_gen_script_fp = nullptr;
  EXPECT_EQ(read_text(path), "");
  unlink(path.c_str());
}

// A dry run names the file but makes none.
TEST(GenInputFile, ADryRunMakesNone) {
  std::string path = "/tmp/filename_" + std::to_string(getpid());
  run = RunState{};
  run.options.dry_run = true;
  ASSERT_EQ(run_to_end(create_file_for_vtu_gen_script).status, 0);
  EXPECT_EQ(run.script_input.vtu_gen_script_fp, nullptr);
  EXPECT_EQ(run.script_input.vtu_gen_script_file_name, path);
  struct stat st;
  EXPECT_NE(lstat(path.c_str(), &st), 0);
  unlink(path.c_str());
  run = RunState{};
}

}  // namespace
