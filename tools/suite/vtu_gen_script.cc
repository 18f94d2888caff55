// Stand-in for the suite's Legacy script generator.
#include "base/core/std_descriptors.h"
#include "tools/suite/cli.h"
#include "tools/suite/gen_main.h"

int main(int argc, char **argv) {
  if (!vtlb_open_std_descriptors()) return suite_fail("vtu_gen_script", kNoDevNull);
  return gen_script_main(argc, argv, "vtu_gen_script", "Legacy");
}
