#include "tools/replay_gen/loader/input_paths.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tools/replay_gen/log.h"
#include "tools/replay_gen/trace_names.h"

namespace {

constexpr int32_t kFirstListSize = 64;

bool grow_input_file_list(InputFiles &files, Failure *err) {
  int64_t entries =
      files.max_seq_files ? static_cast<int64_t>(files.max_seq_files) * 2 : kFirstListSize;
  int64_t bytes = entries * static_cast<int64_t>(sizeof(InputFileInfo));
  if (bytes > INT32_MAX)
    return fail(err, trace_name::kGenInputFileList,
                "Trying to realloc a negative or 0 size (%d) for index  %d",
                static_cast<int32_t>(bytes), -1);
  void *grown = realloc(files.seq_file_path, bytes);
  if (!grown)
    return out_of_memory(err, trace_name::kGenInputFileList, "seq_file_path",
                         static_cast<int32_t>(bytes));
  files.seq_file_path = static_cast<InputFileInfo *>(grown);
  files.max_seq_files = static_cast<int32_t>(entries);
  return true;
}

}  // namespace

int format_input_path(Failure *err, char *buf, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int len = vsnprintf(buf, kTextBufSize, format, ap);
  va_end(ap);
  if (len >= 0 && len < kTextBufSize) return len;
  fail(err, trace_name::kGenInputFileList,
       "Path is too long (more than %d characters), refusing it: %.200s...", kTextBufSize - 1, buf);
  return -1;
}

bool append_input_file(RunState &run, const char *path, int len, const char *oom_name,
                       Failure *err) {
  InputFiles &files = run.files;
  if (run.log.debug_level)
    debug_log(run.log, 2, trace_name::kGenInputFileList, "Allocating memory for %s. size = %d",
              path, len + 1);
  // The list grows first: a list that cannot grow leaves no copy behind.
  if (files.num_seq_files == files.max_seq_files && !grow_input_file_list(files, err)) return false;
  char *copy = static_cast<char *>(malloc(len + 1));
  if (!copy) return out_of_memory(err, trace_name::kGenInputFileList, oom_name, len + 1);
  memcpy(copy, path, len + 1);
  files.seq_file_path[files.num_seq_files] = InputFileInfo{};
  files.seq_file_path[files.num_seq_files].input_file = copy;
  files.num_seq_files++;
  return true;
}
