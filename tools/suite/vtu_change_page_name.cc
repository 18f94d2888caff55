// Stand-in for the suite's page renamer:
// "vtu_change_page_name -s project/subproject/name -p old1,old2 -n new1,new2"
// renames each page of -p to the name at the same position of -n. Nothing is
// renamed when any pair is refused.
#include <unistd.h>

#include <string>

#include "base/core/std_descriptors.h"
#include "tools/suite/cli.h"
#include "tools/suite/page_rename.h"
#include "tools/suite/script_store.h"

namespace {
const char kProg[] = "vtu_change_page_name";
const char kUsage[] = "-s project/subproject/name -p current,names -n new,names";
}  // namespace

int main(int argc, char **argv) {
  if (!vtlb_open_std_descriptors()) return suite_fail(kProg, kNoDevNull);
  std::string name, from, to;
  bool has_from = false, has_to = false;
  opterr = 0;
  for (int c; (c = getopt(argc, argv, ":s:p:n:")) != -1;) {
    if (c == 's') {
      name = optarg;
    } else if (c == 'p') {
      from = optarg;
      has_from = true;
    } else if (c == 'n') {
      to = optarg;
      has_to = true;
    } else {
      return suite_option_error(kProg, c, kUsage);
    }
  }
  if (optind < argc)
    return suite_usage_error(kProg, std::string("unexpected argument ") + argv[optind], kUsage);
  if (name.empty() || !has_from || !has_to)
    return suite_usage_error(kProg, "-s, -p and -n are required", kUsage);

  std::string dir, err;
  SuiteScript script;
  if (!script_dir_of(name, &dir, &err) || !read_script(dir, &script, &err) ||
      !rename_pages(&script.pages, split_name_list(from), split_name_list(to), &err) ||
      !write_script(dir, script, &err))
    return suite_fail(kProg, err);
  return 0;
}
