#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "base/core/std_descriptors.h"
#include "tools/package/cli.h"

int main(int argc, char **argv) {
  if (!vtlb_open_std_descriptors()) {
    fprintf(stderr, "vt_package: cannot open /dev/null for a closed standard descriptor: %s\n",
            strerror(errno));
    return 1;
  }
  return vt_package_main(argc, argv);
}
