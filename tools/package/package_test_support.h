// Test support: a fresh directory under /tmp that files are written into, removed at the end.
#ifndef VT_PACKAGE_PACKAGE_TEST_SUPPORT_H_
#define VT_PACKAGE_PACKAGE_TEST_SUPPORT_H_

#include <fstream>
#include <string>

#include "base/core/temp_dir_test_support.h"

struct TempDir : VtTempDir {
  void write(const std::string &name, const std::string &text) const {
    std::ofstream(path + "/" + name, std::ios::binary | std::ios::trunc) << text;
  }
};

#endif  // VT_PACKAGE_PACKAGE_TEST_SUPPORT_H_
