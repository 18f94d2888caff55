// An independent reader of a replay directory (vt_package check). It reads
// every worker's index file and checks each group against the worker's
// request file: the group's offset and size must cover one whole entry
// (head lines, "Content-Length: <n>", empty line, n bytes, "\n"), and the
// entries of a request file must tile it with no gap or overlap. It names
// every file of the directory that breaks the trust rules
// (base/package/package_files.h) or that others may write, and, when the
// package has a manifest, every count, size and digest that differs from it.
#ifndef VT_PACKAGE_PACKAGE_CHECK_H_
#define VT_PACKAGE_PACKAGE_CHECK_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/package/manifest.h"

struct PackageSummary {
  int workers = 0;
  uint64_t users = 0;
  uint64_t requests = 0;
  ManifestState manifest = ManifestState::kAbsent;
  size_t manifest_problems = 0;  // of the problems, those the manifest found
};

// One text per problem, each naming the file; empty when sound.
std::vector<std::string> check_replay_package(const std::string &dir, PackageSummary *summary,
                                              bool trust_foreign = false);

#endif  // VT_PACKAGE_PACKAGE_CHECK_H_
