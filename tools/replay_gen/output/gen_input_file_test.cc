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
// same id left is replaced; a dry run names the file but makes none. (A
// symbolic link or a named pipe in its place is refused: the end-to-end case
// safety_gen_input_planted.)
TEST(GenInputFile, ReplacesWhatAnEarlierProcessLeftButADryRunMakesNone) {
  std::string path = "/tmp/filename_" + std::to_string(getpid());
  for (bool dry : {false, true}) {
    run = RunState{};
    run.options.dry_run = dry;
    if (!dry) write_text(path, "left by an earlier run\n");
    ASSERT_EQ(run_to_end(create_file_for_vtu_gen_script).status, 0);
    EXPECT_EQ(run.script_input.vtu_gen_script_file_name, path);
    ASSERT_EQ(run.script_input.vtu_gen_script_fp != nullptr, !dry);
    if (!dry) fclose(run.script_input.vtu_gen_script_fp);
    run.script_input.vtu_gen_script_fp = nullptr;
    struct stat st;
    EXPECT_EQ(lstat(path.c_str(), &st) == 0 && st.st_size == 0, !dry) << dry;
    unlink(path.c_str());
  }
  run = RunState{};
}

}  // namespace
