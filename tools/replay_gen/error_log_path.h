// The loader threads' error log paths, "<replay_dir>/error.log.<id>": the
// configuration checks that they fit as soon as REPLAY_DIR is read, the
// loader before it opens them.
#ifndef VT_REPLAY_GEN_ERROR_LOG_PATH_H_
#define VT_REPLAY_GEN_ERROR_LOG_PATH_H_

#include <stddef.h>

#include "tools/replay_gen/failure.h"

// Most loader threads -n may ask for.
constexpr int kMaxLoaderThreads = 1024;
// Room of an error log path, its NUL included.
constexpr size_t kErrorLogPathSize = 512;

// False (from fname, with *err) when the error log path of the highest of
// num_threads threads in replay_dir does not fit kErrorLogPathSize.
bool check_error_log_path(const char *replay_dir, int num_threads, const char *fname, Failure *err);

#endif  // VT_REPLAY_GEN_ERROR_LOG_PATH_H_
