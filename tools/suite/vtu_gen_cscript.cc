// Stand-in for the suite's C script generator.
#include "tools/suite/gen_main.h"

int main(int argc, char **argv) {
  return gen_script_main(argc, argv, "vtu_gen_cscript", "C");
}
