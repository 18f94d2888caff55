// Scripts as the suite's stand-in commands keep them: the directory
// VT_WDIR/scripts/<project>/<subproject>/<name> holds "script.type" (the kind
// of generator that made it, C or Legacy) and "script.pages" (one page a
// line, in page order: name, method and URL separated by tabs).
#ifndef VT_SUITE_SCRIPT_STORE_H_
#define VT_SUITE_SCRIPT_STORE_H_

#include <string>
#include <vector>

struct SuitePage {
  std::string name;
  std::string method;
  std::string url;
};

struct SuiteScript {
  std::string type;
  std::vector<SuitePage> pages;
};

// True for project/subproject/name: three non-empty parts, none "." or "..".
bool valid_script_name(const std::string &name);

// The directory of script `name` under VT_WDIR; false with *err when VT_WDIR
// is not set or the name is not in project/subproject/name form.
bool script_dir_of(const std::string &name, std::string *dir, std::string *err);

// Reads the script in dir; false with *err when there is none or it is damaged.
bool read_script(const std::string &dir, SuiteScript *script, std::string *err);

// Writes script into dir, making the directories; the page list is replaced
// as a whole.
bool write_script(const std::string &dir, const SuiteScript &script, std::string *err);

#endif  // VT_SUITE_SCRIPT_STORE_H_
