#include "tools/replay_gen/driver/driver.h"

int main(int argc, char **argv) {
  return vtu_replay_gen_main(argc, argv);
}
