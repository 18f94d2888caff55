#include "tools/suite/script_store.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "base/core/input_file.h"
#include "base/core/safe_file.h"

namespace fs = std::filesystem;

namespace {

const char kTypeFile[] = "script.type";
const char kPagesFile[] = "script.pages";

// Splits line at tabs.
std::vector<std::string> tab_fields(const std::string &line) {
  std::vector<std::string> fields;
  for (size_t start = 0;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

bool read_pages(const std::string &path, std::vector<SuitePage> *pages, std::string *err) {
  std::string text, why;
  if (!vtlb_read_regular_file(path, &text, &why)) {
    *err = "cannot read '" + path + "': " + why;
    return false;
  }
  std::istringstream in(text);
  std::string line;
  for (int line_no = 1; std::getline(in, line); line_no++) {
    std::vector<std::string> f = tab_fields(line);
    if (f.size() != 3 || f[0].empty()) {
      *err = "damaged page list '" + path + "' at line " + std::to_string(line_no);
      return false;
    }
    pages->push_back({f[0], f[1], f[2]});
  }
  return true;
}

bool write_file(const fs::path &path, const std::string &text, std::string *err) {
  fs::path tmp = path;
  tmp += ".tmp";
  std::string why;
  int fd = vtlb_open_regular_file(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, &why);
  bool ok = fd >= 0 && vtlb_write_all(fd, text.data(), text.size());
  if (fd >= 0 && !ok) why = strerror(errno);
  if (fd >= 0 && close(fd) != 0 && ok) {
    ok = false;
    why = strerror(errno);
  }
  std::error_code ec;
  if (ok) fs::rename(tmp, path, ec);
  if (ec) why = ec.message();
  if (!ok || ec) {
    *err = "cannot write '" + path.string() + "': " + why;
    return false;
  }
  return true;
}

}  // namespace

bool valid_script_name(const std::string &name) {
  int parts = 0;
  size_t start = 0;
  while (true) {
    size_t slash = name.find('/', start);
    std::string part = name.substr(start, slash == std::string::npos ? slash : slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    parts++;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts == 3;
}

bool script_dir_of(const std::string &name, std::string *dir, std::string *err) {
  const char *wdir = getenv("VT_WDIR");
  if (!wdir || !*wdir) {
    *err = "VT_WDIR is not set";
    return false;
  }
  if (!valid_script_name(name)) {
    *err = "script name '" + name + "' is not of the form project/subproject/name";
    return false;
  }
  *dir = std::string(wdir) + "/scripts/" + name;
  return true;
}

bool read_script(const std::string &dir, SuiteScript *script, std::string *err) {
  std::string text, why;
  std::istringstream type_in;
  if (vtlb_read_regular_file((fs::path(dir) / kTypeFile).string(), &text, &why)) type_in.str(text);
  if (!type_in || !std::getline(type_in, script->type)) {
    *err = "no script in '" + dir + "'";
    return false;
  }
  script->pages.clear();
  return read_pages((fs::path(dir) / kPagesFile).string(), &script->pages, err);
}

bool write_script(const std::string &dir, const SuiteScript &script, std::string *err) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    *err = "cannot create '" + dir + "': " + ec.message();
    return false;
  }
  std::string pages;
  for (const SuitePage &p : script.pages) pages += p.name + '\t' + p.method + '\t' + p.url + '\n';
  return write_file(fs::path(dir) / kTypeFile, script.type + '\n', err) &&
         write_file(fs::path(dir) / kPagesFile, pages, err);
}
