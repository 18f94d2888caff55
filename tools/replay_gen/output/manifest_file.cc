#include "tools/replay_gen/output/manifest_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "base/core/digest.h"
#include "base/core/safe_file.h"
#include "base/core/utc_time.h"
#include "base/package/manifest.h"
#include "base/package/package_format.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

#ifndef VT_VERSION
#define VT_VERSION "unknown"
#endif

namespace {

const char *const kFname = "write_package_manifest";

// The INPUT_DIR selection as the tool reads it: the base directory, then
// after "|" the days and after the next "|" the files of each day.
void note_input(const RunState &run, ManifestInput *in) {
  const RunConfig &c = run.config;
  const std::string &value = run.manifest.input_dir;
  in->input_dir = value;
  size_t bar = value.find('|');
  in->base = value.substr(0, bar);
  if (bar != std::string::npos) {
    size_t next = value.find('|', bar + 1);
    in->days =
        value.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
    if (next != std::string::npos) in->files = value.substr(next + 1);
  }
  in->input_files = static_cast<uint64_t>(run.files.num_seq_files);
  in->records = run.counters.g_msgcount;
  in->accepted = run.counters.g_valid_msgcount;
  in->rejected = run.counters.g_ignore_request;
  in->period_start_s = c.start_time_stamp;
  in->period_end_s = c.end_time_stamp;
  in->new_user_time_ms = c.new_user_time;
  in->page_ids_from_url = !run.options.svc_id_uses_svc_name;
}

}  // namespace

void note_manifest_sources(RunState &run, const char *config_file) {
  char resolved[PATH_MAX];
  run.manifest.config_file = realpath(config_file, resolved) ? resolved : config_file;
  size_t skip = strnlen(run.config.input_dir, strlen("INPUT_DIR|"));
  run.manifest.input_dir = run.config.input_dir + skip;
}

std::string format_manifest(const RunState &run, uint64_t made_at_ms) {
  const ManifestNotes &notes = run.manifest;
  Manifest m;
  m.tool_version = VT_VERSION;
  m.made_at = vtlb_utc_iso(made_at_ms, false);
  m.config = notes.config_file;
  note_input(run, &m.input);
  m.capture_start_ms = run.records.time_zero_ms;
  m.workers = run.workers.num_vvm;
  for (int w = 0; w < m.workers && w < kMaxVvm; w++) {
    ManifestWorker f;
    f.worker = w;
    f.users = static_cast<uint64_t>(run.workers.vvm_list[w].num_users);
    f.requests = notes.requests[w];
    f.request_file = {"", static_cast<uint64_t>(run.workers.vvm_list[w].offset),
                      vtlb_digest_hex(notes.request_digest[w])};
    f.index_file = {"", notes.index_size[w], vtlb_digest_hex(notes.index_digest[w])};
    m.files.push_back(f);
  }
  for (int i = 0; i < run.services.total_services; i++) {
    const ServiceMap &s = run.services.service_map_ptr[i];
    m.services.push_back({i, s.service_name ? s.service_name : "", s.method_type,
                          s.url ? s.url : "", s.num_requests});
  }
  return format_manifest_text(m);
}

bool write_package_manifest(RunState &run, Failure *err) {
  if (run.log.debug_level) debug_log(run.log, 4, kFname, "Method Called");
  if (run.options.dry_run) return true;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  std::string text = format_manifest(
      run, static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec / 1000000));
  std::string path = std::string(run.config.replay_dir) + "/" + kManifestName;
  int fd = vtlb_create_new_file(path.c_str(), O_WRONLY, 0644);
  bool ok = fd >= 0 && vtlb_write_all(fd, text.data(), text.size());
  int error = errno;
  if (fd >= 0 && close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) return true;
  return fail(err, kFname, "Error in writing manifest %s: %s", path.c_str(), strerror(error));
}
