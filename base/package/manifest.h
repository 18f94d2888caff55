// The package's manifest, vt_manifest.json, which vtu_replay_gen writes last
// into the replay directory: what made the package, the capture's clock time
// of send time 0, every request and index file with its size and digest,
// users and requests per worker, the services by page id. Written by
// format_manifest_text, read by parse_manifest. A package without a manifest
// (made before manifests, or by a run that did not finish) is still a
// package: every reader treats the manifest as optional.
#ifndef VT_BASE_PACKAGE_MANIFEST_H_
#define VT_BASE_PACKAGE_MANIFEST_H_

#include <stdint.h>

#include <string>
#include <vector>

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

// What the run was made from; written, not read back.
struct ManifestInput {
  std::string input_dir;     // the INPUT_DIR value
  std::string base;          // its parts: the base directory,
  std::string days, files;   // the days and the files ("": none given)
  uint64_t input_files = 0;  // the input files found
  uint64_t records = 0, accepted = 0, rejected = 0;
  uint64_t period_start_s = 0, period_end_s = 0;  // REPLAY_PERIOD, 0: unset
  uint64_t new_user_time_ms = 0;
  bool page_ids_from_url = false;
};

struct Manifest {
  int format = 1;
  std::string tool = "vtu_replay_gen";
  std::string tool_version;
  std::string made_at;
  std::string config;
  ManifestInput input;
  uint64_t capture_start_ms = 0;  // ms since the epoch of send time 0
  std::string capture_start;
  int workers = 0;
  uint64_t users = 0;
  uint64_t requests = 0;
  std::vector<ManifestWorker> files;      // worker w at [w]
  std::vector<ManifestService> services;  // by page id
  std::string identity;                   // set by the reader: package_identity(text)
};

enum class ManifestState { kAbsent, kRead, kUnreadable };

std::string format_manifest_text(const Manifest &m);

// Reads the manifest text. False with *error saying what is wrong: not JSON,
// another format, a key missing or of the wrong type, a list of files that
// is not one per worker in order, totals that are not the workers' sums, a
// capture start beyond the year 9999.
bool parse_manifest(const std::string &text, Manifest *m, std::string *error);

// The service of a page id, or null when the manifest does not list it.
const ManifestService *manifest_service(const Manifest &m, int page_id);

#endif  // VT_BASE_PACKAGE_MANIFEST_H_
