#include "base/core/suite_commands.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

std::vector<std::string> vtlb_suite_commands(const char *script_type) {
  return {strcmp(script_type, "C") == 0 ? "vtu_gen_cscript" : "vtu_gen_script", "vti_get_page",
          "vtu_change_page_name"};
}

bool vtlb_path_has_command(const std::string &command) {
  const char *path = getenv("PATH");
  std::string dirs = path ? path : "/bin:/usr/bin";
  for (size_t at = 0;;) {
    size_t end = dirs.find(':', at);
    std::string dir = dirs.substr(at, end == std::string::npos ? std::string::npos : end - at);
    std::string file = (dir.empty() ? "." : dir) + "/" + command;
    struct stat st;
    if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0)
      return true;
    if (end == std::string::npos) return false;
    at = end + 1;
  }
}

std::vector<std::string> vtlb_missing_suite_commands(const char *script_type) {
  std::vector<std::string> missing;
  for (const std::string &command : vtlb_suite_commands(script_type))
    if (!vtlb_path_has_command(command)) missing.push_back(command);
  return missing;
}

std::string vtlb_missing_suite_commands_text(const std::vector<std::string> &missing) {
  std::string names;
  for (size_t i = 0; i < missing.size(); i++)
    names += (i == 0 ? "" : i + 1 == missing.size() ? " and " : ", ") + missing[i];
  return std::string(missing.size() == 1 ? "suite command " : "suite commands ") + names +
         (missing.size() == 1 ? " is" : " are") +
         " not on PATH: install the suite's commands, or their stand-ins (the Debian "
         "package vortan-replay-gen-standins, which make deb builds)";
}
