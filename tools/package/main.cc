#include "tools/package/cli.h"

int main(int argc, char **argv) {
  return vt_package_main(argc, argv);
}
