// Test support: the descriptors the process has open, to show code under test closes what it opens.
#ifndef VT_BASE_CORE_OPEN_DESCRIPTORS_TEST_SUPPORT_H_
#define VT_BASE_CORE_OPEN_DESCRIPTORS_TEST_SUPPORT_H_

#include <filesystem>
#include <iterator>

inline long vt_open_descriptors() {
  return static_cast<long>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                         std::filesystem::directory_iterator{}));
}

#endif  // VT_BASE_CORE_OPEN_DESCRIPTORS_TEST_SUPPORT_H_
