#include "tools/replay_gen/output/gen_input_file.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

// The input file of this process id, made new, or in place of a regular file
// an earlier process of the same id left; either way empty and readable and
// writable by all the mask allows. A dry run names the file but makes none.
// (A symbolic link or a named pipe in its place is refused: the end-to-end
// case safety_gen_input_planted.)
TEST(GenInputFile, MadeNewOrReplacingWhatAnEarlierProcessLeftButNotInADryRun) {
  std::string path = "/tmp/filename_" + std::to_string(getpid());
  mode_t mask = umask(002);
  struct Case {
    bool dry, left;
  };
  for (Case c : {Case{false, false}, Case{false, true}, Case{true, false}}) {
    SCOPED_TRACE(std::to_string(c.dry) + std::to_string(c.left));
    RunState run;
    run.options.dry_run = c.dry;
    if (c.left) write_text(path, "left by an earlier run\n");
    ASSERT_EQ(run_to_end([&](Failure *e) { return create_file_for_vtu_gen_script(run, e); }).status,
              0);
    EXPECT_EQ(run.script_input.vtu_gen_script_file_name, path);
    ASSERT_EQ(run.script_input.vtu_gen_script_fp != nullptr, !c.dry);
    if (!c.dry) fclose(run.script_input.vtu_gen_script_fp);
    run.script_input.vtu_gen_script_fp = nullptr;
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st) == 0, !c.dry);
    if (!c.dry) {
      EXPECT_EQ(st.st_size, 0);
      EXPECT_EQ(st.st_mode & 07777, 0664);
    }
    unlink(path.c_str());
  }
  umask(mask);
}

}  // namespace
