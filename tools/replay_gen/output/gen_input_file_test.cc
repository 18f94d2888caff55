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
// same id left is replaced; a symbolic link or a named pipe is refused and
// the link's target is left as it was.
TEST(GenInputFile, MadeNewNeverThroughWhatIsThere) {
  std::string path = "/tmp/filename_" + std::to_string(getpid());
  std::string dir = make_temp_dir();
  write_text(dir + "/target", "keep");
  write_text(path, "left by an earlier run\n");
  ASSERT_EQ(run_to_end(create_file_for_vtu_gen_script).status, 0);
  ASSERT_NE(run.script_input.vtu_gen_script_fp, nullptr);
  fclose(run.script_input.vtu_gen_script_fp);
  run.script_input.vtu_gen_script_fp = nullptr;
  EXPECT_EQ(read_text(path), "");
  for (const char *kind : {"a symbolic link", "a named pipe"}) {
    unlink(path.c_str());
    if (std::string(kind) == "a named pipe")
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    else
      ASSERT_EQ(symlink((dir + "/target").c_str(), path.c_str()), 0);
    Outcome o = run_to_end(create_file_for_vtu_gen_script);
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.err, "create_file_for_vtu_gen_script:Error in creating file '" + path +
                         "' for the generation of script: " + kind + " is in its place\n");
  }
  EXPECT_EQ(read_text(dir + "/target"), "keep");
  unlink(path.c_str());
  std::filesystem::remove_all(dir);
}

}  // namespace
