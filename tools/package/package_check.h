// An independent reader of a replay directory (vt_package check). It
// parses every worker's index file on its own and checks each group against
// the worker's request file: the group's offset and size must cover one
// whole entry (head lines, "Content-Length: <n>", empty line, n bytes, "\n"),
// and the entries of a request file must tile it with no gap or overlap.
#ifndef VT_PACKAGE_PACKAGE_CHECK_H_
#define VT_PACKAGE_PACKAGE_CHECK_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/package/manifest.h"

struct PackageSummary {
  int workers = 0;
  uint64_t users = 0;
  uint64_t requests = 0;
  ManifestState manifest = ManifestState::kAbsent;
  size_t manifest_problems = 0;  // of the problems, those the manifest found
};

// Checks dir/vt_index_<w> and dir/vt_req_<w> for w = 0, 1, ... as long as
// the index file exists, and that every file in dir belongs to the
// directory's owner and is not writable by others; then, when the package
// has a manifest, the package against it (manifest.h). Returns one text per
// problem; empty when sound.
std::vector<std::string> check_replay_package(const std::string &dir, PackageSummary *summary);

#endif  // VT_PACKAGE_PACKAGE_CHECK_H_
