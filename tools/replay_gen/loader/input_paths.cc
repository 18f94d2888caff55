#include "tools/replay_gen/loader/input_paths.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

namespace {

constexpr int32_t kFirstListSize = 64;

void grow_input_file_list() {
  int64_t entries =
      run.files.max_seq_files ? static_cast<int64_t>(run.files.max_seq_files) * 2 : kFirstListSize;
  int64_t bytes = entries * static_cast<int64_t>(sizeof(InputFileInfo));
  if (bytes > INT32_MAX) {
    error_log(run.log, 1, "gen_input_file_list",
              "Trying to realloc a negative or 0 size (%d) for index  %d",
              static_cast<int32_t>(bytes), -1);
    vt_exit(-1);
  }
  void *grown = realloc(run.files.seq_file_path, bytes);
  if (!grown) {
    out_of_memory("gen_input_file_list", "seq_file_path", static_cast<int32_t>(bytes));
  }
  run.files.seq_file_path = static_cast<InputFileInfo *>(grown);
  run.files.max_seq_files = static_cast<int32_t>(entries);
}

}  // namespace

int format_input_path(char *buf, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int len = vsnprintf(buf, kTextBufSize, format, ap);
  va_end(ap);
  if (len < 0 || len >= kTextBufSize) {
    error_log(run.log, 1, "gen_input_file_list",
              "Path is too long (more than %d characters), refusing it: %.200s...",
              kTextBufSize - 1, buf);
    vt_exit(-1);
  }
  return len;
}

void append_input_file(const char *path, int len, const char *oom_name) {
  if (run.log.debug_level)
    debug_log(run.log, 2, "gen_input_file_list", "Allocating memory for %s. size = %d", path,
              len + 1);
  // The list grows first: a list that cannot grow leaves no copy behind.
  if (run.files.num_seq_files == run.files.max_seq_files) grow_input_file_list();
  char *copy = static_cast<char *>(malloc(len + 1));
  if (!copy) {
    out_of_memory("gen_input_file_list", oom_name, len + 1);
  }
  memcpy(copy, path, len + 1);
  run.files.seq_file_path[run.files.num_seq_files] = InputFileInfo{};
  run.files.seq_file_path[run.files.num_seq_files].input_file = copy;
  run.files.num_seq_files++;
}
