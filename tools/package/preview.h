// vt_package preview: a dry run of vtu_replay_gen that writes nothing. The
// tool's own stage list runs in dry-run mode (driver/generate.h), in a child
// process of its own, which hands its report back through a pipe; the
// parent reports a child that did not end by itself.
#ifndef VT_PACKAGE_PREVIEW_H_
#define VT_PACKAGE_PREVIEW_H_

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "tools/package/profile.h"

struct PreviewOptions {
  std::string config;
  bool force = false;     // the tool's -f
  bool url_mode = false;  // the tool's -u
  bool json = false;
  uint64_t bucket_ms = 1000;
};

struct PreviewInputFile {
  std::string path;
  int64_t bytes = -1;  // -1 when it cannot be read
  uint64_t records = 0;
};

// What preview found; package is set once the users are planned.
struct PreviewReport {
  std::string config;
  std::vector<PreviewInputFile> input_files;
  bool loaded = false;
  uint64_t records = 0;
  uint64_t accepted = 0;
  bool package = false;
  std::string replay_dir;
  Profile profile;
  std::vector<std::string> warnings;
  std::vector<std::string> problems;
};

// Runs the preview and prints its report; returns 0 when the run would
// succeed, 1 when it would fail.
int run_preview(const PreviewOptions &o);

std::string format_preview_text(const PreviewReport &r);
std::string format_preview_json(const PreviewReport &r);

// Warnings on what the tool silently accepts in the configuration text:
// REPLAY_PERIOD dates whose day and month look swapped, NEW_USER_TIME text
// that is not a duration. (The tool itself warns of lines of no keyword.)
std::vector<std::string> config_text_warnings(const std::vector<std::string> &lines);

// Whether a dry run's report stands: the run ended by itself, with 0 or 1,
// and had begun its report. One killed by a signal after it began the
// report did not finish it.
bool dry_run_finished(int wait_status, bool report_begun);

// The lines of a /proc/cpuinfo text that begin with "processor", as the
// tool's shell pipeline counts them: a line of any length counts once.
int count_processor_lines(FILE *fp);

#endif  // VT_PACKAGE_PREVIEW_H_
