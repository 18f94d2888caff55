// Stand-in for the suite's page lister: "vti_get_page project/subproject/name"
// prints the script's page names, one a line, in page order.
#include <stdio.h>

#include <string>

#include "base/core/std_descriptors.h"
#include "tools/suite/cli.h"
#include "tools/suite/script_store.h"

int main(int argc, char **argv) {
  const char *prog = "vti_get_page";
  if (!vtlb_open_std_descriptors()) return suite_fail(prog, kNoDevNull);
  if (argc != 2 || argv[1][0] == '-')
    return suite_usage_error(prog, "expected one script name", "project/subproject/name");
  std::string dir, err;
  SuiteScript script;
  if (!script_dir_of(argv[1], &dir, &err) || !read_script(dir, &script, &err))
    return suite_fail(prog, err);
  for (const SuitePage &p : script.pages) printf("%s\n", p.name.c_str());
  return 0;
}
