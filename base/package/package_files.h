// The trust rules every reader of a replay package keeps. A replay directory
// may be one that every engine user can write to, so a file in it may have
// been put there by someone else than the run that made the package:
// - a package file is opened without following a link and without waiting
//   (O_NOFOLLOW | O_NONBLOCK), then must be a regular file owned by the
//   directory's owner or by the caller (unless the caller trusts files of
//   other owners, --trust-foreign-files);
// - the workers are exactly those the manifest lists when there is one: a
//   worker's file beyond them is no part of the package;
// - the manifest's counts and sizes agree with the files (the reader counts,
//   package_disagreements compares).
// A file that breaks a rule is never read: vt_replay refuses the package,
// the other readers name it as a problem.
#ifndef VT_BASE_PACKAGE_PACKAGE_FILES_H_
#define VT_BASE_PACKAGE_PACKAGE_FILES_H_

#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "base/package/manifest.h"

struct PackageDir {
  std::string path;
  int fd = -1;
  uid_t owner = 0;  // the directory's
  uid_t caller = 0;
  bool trust_foreign = false;
};

// Opens path as a package directory; false with *error "<path>: <reason>".
bool open_package_dir(const std::string &path, bool trust_foreign, PackageDir *d,
                      std::string *error);
void close_package_dir(PackageDir *d);

// The rule a file of these (lstat) figures breaks, "" for none.
std::string package_file_rule(const PackageDir &d, const struct stat &st);

// Opens the package file name for reading under the rules. The descriptor,
// with *st its figures; or -1 with *why the rule it breaks or the system's
// reason, and errno (ENOENT for a file that is not there).
int open_package_file(const PackageDir &d, const std::string &name, struct stat *st,
                      std::string *why);

// The digest (digest.h) of the file at fd from its start, as 32 hexadecimal
// digits.
bool package_file_digest(int fd, std::string *hex, std::string *why);

// Whether anything is at name (a dangling link too).
bool package_file_exists(const PackageDir &d, const std::string &name);

// The names in the directory, sorted; false with *why when it cannot be
// listed.
bool package_dir_names(const PackageDir &d, std::vector<std::string> *names, std::string *why);

// Reads the manifest of the directory under the rules: kAbsent when there is
// none, kUnreadable with *error "vt_manifest.json: <why>".
ManifestState read_package_manifest(const PackageDir &d, Manifest *m, std::string *error);

// What a reader learns before it reads the workers' lines.
struct Package {
  PackageDir dir;
  ManifestState manifest_state = ManifestState::kAbsent;
  Manifest manifest;
  std::string manifest_error;  // why it cannot be read: "vt_manifest.json: ..."
  int workers = 0;             // the manifest's, or vt_index_0, 1, ... as far as they go
};

// Opens the package in path: the directory, the manifest (read under the
// rules), the workers. Problems that leave the rest readable (a manifest
// that cannot be read, a worker's file beyond the workers) go to *problems,
// one "<name>: <rule>" each. False with *error when there is no package to
// read: a directory that cannot be opened, no worker at all.
bool open_package(const std::string &path, bool trust_foreign, Package *p,
                  std::vector<std::string> *problems, std::string *error);
void close_package(Package *p);

// What the reader found of one worker.
struct WorkerCounts {
  uint64_t users = 0;
  uint64_t requests = 0;
  uint64_t request_file_size = 0;
  uint64_t index_file_size = 0;
  uint64_t last_time_ms = 0;  // the latest send time
};

// Where the manifest (when there is one that was read) and what was found
// of worker w disagree: "<name>: <what>" each.
std::vector<std::string> package_disagreements(const Package &p, int w, const WorkerCounts &f);

#endif  // VT_BASE_PACKAGE_PACKAGE_FILES_H_
