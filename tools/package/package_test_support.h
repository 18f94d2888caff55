// Test support: a fresh directory under /tmp, removed with its files at the end of scope.
#ifndef VT_PACKAGE_PACKAGE_TEST_SUPPORT_H_
#define VT_PACKAGE_PACKAGE_TEST_SUPPORT_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

struct TempDir {
  std::string path = [] {
    char tmpl[] = "/tmp/vt_package_test.XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  ~TempDir() { std::filesystem::remove_all(path); }
  void write(const std::string &name, const std::string &text) const {
    std::ofstream(path + "/" + name, std::ios::binary | std::ios::trunc) << text;
  }
};

#endif  // VT_PACKAGE_PACKAGE_TEST_SUPPORT_H_
