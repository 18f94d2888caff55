// The reader of a package's manifest, vt_manifest.json, which vtu_replay_gen
// writes last into the replay directory, and the check of a package against
// it. A package without a manifest (made before manifests, or by a run that
// did not finish) is still a package: every reader treats the manifest as
// optional.
#ifndef VT_PACKAGE_MANIFEST_H_
#define VT_PACKAGE_MANIFEST_H_

#include <stdint.h>

#include <string>
#include <vector>

extern const char kManifestFile[];  // "vt_manifest.json"

struct ManifestFile {
  std::string name;
  uint64_t size = 0;
  std::string digest;  // kDigestField: 32 lower-case hexadecimal digits
};

struct ManifestWorker {
  int worker = 0;
  uint64_t users = 0;
  uint64_t requests = 0;
  ManifestFile request_file;
  ManifestFile index_file;
};

struct ManifestService {
  int page_id = 0;
  std::string name;
  std::string method;
  std::string url;
  uint64_t requests = 0;
};

struct Manifest {
  int format = 0;
  std::string tool;
  std::string tool_version;
  std::string made_at;
  std::string config;
  uint64_t capture_start_ms = 0;  // ms since the epoch of send time 0
  std::string capture_start;
  int workers = 0;
  std::vector<ManifestWorker> files;
  std::vector<ManifestService> services;  // by page id
};

enum class ManifestState { kAbsent, kRead, kUnreadable };

// Reads the manifest text. False with *error saying what is wrong: not JSON,
// another format, a key missing or of the wrong type.
bool parse_manifest(const std::string &text, Manifest *m, std::string *error);

// Reads dir/vt_manifest.json: kAbsent when there is none, kUnreadable with
// *error when it cannot be read or parsed.
ManifestState read_manifest(const std::string &dir, Manifest *m, std::string *error);

// Checks the package in dir against its manifest: the worker count, that no
// worker's files lie beyond it, and every listed file's size and digest.
// One text per problem, each naming the file; empty when all agree.
std::vector<std::string> verify_manifest(const std::string &dir, const Manifest &m);

// The service of a page id, or null when the manifest does not list it.
const ManifestService *manifest_service(const Manifest &m, int page_id);

#endif  // VT_PACKAGE_MANIFEST_H_
