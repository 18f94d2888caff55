#include "tools/suite/gen_main.h"

#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tools/suite/cli.h"
#include "tools/suite/gen_input.h"
#include "tools/suite/script_store.h"

namespace {
const char kUsage[] = "-s project/subproject/name -f input_file [-r]";
}  // namespace

int gen_script_main(int argc, char **argv, const char *prog, const char *type) {
  std::string name, input;
  bool replace = false;
  opterr = 0;
  for (int c; (c = getopt(argc, argv, ":s:f:r")) != -1;) {
    if (c == 's')
      name = optarg;
    else if (c == 'f')
      input = optarg;
    else if (c == 'r')
      replace = true;
    else
      return suite_option_error(prog, c, kUsage);
  }
  if (optind < argc)
    return suite_usage_error(prog, std::string("unexpected argument ") + argv[optind], kUsage);
  if (name.empty() || input.empty())
    return suite_usage_error(prog, name.empty() ? "-s is required" : "-f is required", kUsage);

  std::string dir, err;
  SuiteScript script{type, {}};
  if (!script_dir_of(name, &dir, &err) ||
      !read_gen_input(input, strcmp(type, "C") == 0, &script.pages, &err))
    return suite_fail(prog, err);
  name_pages(&script.pages);
  std::error_code ec;
  if (std::filesystem::exists(dir, ec)) {
    if (!replace) return suite_fail(prog, "script '" + name + "' already exists (-r replaces it)");
    std::filesystem::remove_all(dir, ec);
    if (ec) return suite_fail(prog, "cannot remove '" + dir + "': " + ec.message());
  }
  if (!write_script(dir, script, &err)) return suite_fail(prog, err);
  return 0;
}
