#include "tools/replay_gen/log.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "base/core/input_file.h"
#include "tools/replay_gen/run_state.h"

namespace {

// Writes one line to stream: "indent message", after "fname:" when fname is
// given. The message is cut at kLogLineMax characters, indent included. Kept
// out of line so that a call whose gate is shut pays for no buffer.
__attribute__((noinline)) void write_line(FILE *stream, const char *fname, const char *indent,
                                          const char *format, va_list ap) {
  char buf[kLogBufSize];
  int used = snprintf(buf, kLogLineMax + 1, "%s", indent);
  if (used > kLogLineMax) used = kLogLineMax;
  vsnprintf(buf + used, kLogLineMax + 1 - used, format, ap);
  if (fname)
    fprintf(stream, "%s:%s\n", fname, buf);
  else
    fprintf(stream, "%s\n", buf);
}

bool shut(int gate, int level) {
  return gate == 0 || level > gate;
}

}  // namespace

void info_log(int level, const char *indent, const char *format, ...) {
  if (shut(run.log.info_level, level)) return;
  va_list ap;
  va_start(ap, format);
  write_line(stdout, nullptr, indent, format, ap);
  va_end(ap);
}

void debug_log(int level, const char *fname, const char *format, ...) {
  if (shut(run.log.debug_level, level)) return;
  va_list ap;
  va_start(ap, format);
  write_line(stdout, fname, "", format, ap);
  va_end(ap);
}

void error_log(int level, const char *fname, const char *format, ...) {
  if (shut(run.log.error_level, level)) return;
  va_list ap;
  va_start(ap, format);
  write_line(stderr, fname, "", format, ap);
  va_end(ap);
}

FILE *open_file(const char *file_name, const char *mode) {
  if (run.log.debug_level)
    debug_log(4, "open_file", "Method Called. file_name = %s, mode = %s", file_name, mode);
  if (strcmp(mode, "r") != 0) {
    FILE *fp = fopen(file_name, mode);
    if (!fp) error_log(1, "open_file", "Unable to open file %s", file_name);
    return fp;
  }
  // A file to read must be a regular one: a named pipe would hold the run
  // up for ever, a device never end, a directory read as nothing.
  std::string why;
  int fd = vtlb_open_regular_file(file_name, O_RDONLY, &why);
  FILE *fp = fd >= 0 ? fdopen(fd, "r") : nullptr;
  if (fp) return fp;
  if (fd >= 0) close(fd);
  if (errno == EINVAL)
    error_log(1, "open_file", "Unable to open file %s: %s", file_name, why.c_str());
  else
    error_log(1, "open_file", "Unable to open file %s", file_name);
  return nullptr;
}
