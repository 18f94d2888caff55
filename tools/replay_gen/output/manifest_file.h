// The package's manifest, "vt_manifest.json" in the replay directory: the
// last file a run writes there, once everything else is complete. It tells
// what made the package (tool, version, time, configuration, input, replay
// period), the capture's clock time of send time 0, every request and index
// file with its size and digest, users and requests per worker, and the
// services by page id. The engine does not read it; vt_package does.
#ifndef VT_REPLAY_GEN_OUTPUT_MANIFEST_FILE_H_
#define VT_REPLAY_GEN_OUTPUT_MANIFEST_FILE_H_

#include <stdint.h>

#include <string>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Notes what the run was made from, before Step 1 cuts the INPUT_DIR value
// into its parts: the configuration file as given with -i, and INPUT_DIR.
void note_manifest_sources(RunState &run, const char *config_file);

// The manifest's text for the run state as it stands after the index files,
// made at made_at_ms (ms since the epoch).
std::string format_manifest(const RunState &run, uint64_t made_at_ms);

// Writes the manifest as a new file in the replay directory; a file that
// cannot be made, written whole or closed fails the run. A dry run writes
// none.
bool write_package_manifest(RunState &run, Failure *err);

#endif  // VT_REPLAY_GEN_OUTPUT_MANIFEST_FILE_H_
