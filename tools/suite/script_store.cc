#include "tools/suite/script_store.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

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
  std::ifstream in(path);
  if (!in) {
    *err = "cannot read '" + path + "'";
    return false;
  }
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
  std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  std::error_code ec;
  if (out) fs::rename(tmp, path, ec);
  if (!out || ec) {
    *err = "cannot write '" + path.string() + "'";
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
  std::ifstream type_in(fs::path(dir) / kTypeFile);
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
