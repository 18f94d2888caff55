#include "tools/replay_gen/log.h"

#include <stdarg.h>

#include "tools/replay_gen/records.h"

namespace {

// Formats into buf, cut at kLogLineMax characters.
void format_into(char *buf, int room, const char *format, va_list ap) {
  if (room <= 0) return;
  vsnprintf(buf, room, format, ap);
}

// "fname:message" on stream when the gate is open and level within it.
void named_line(int gate, int level, FILE *stream, const char *fname, const char *format,
                va_list ap) {
  if (gate == 0) return;
  char buf[kLogBufSize];
  format_into(buf, kLogLineMax + 1, format, ap);
  if (level <= gate) fprintf(stream, "%s:%s\n", fname, buf);
}

}  // namespace

void info_log(int level, const char *indent, const char *format, ...) {
  if (info_level == 0) return;
  char buf[kLogBufSize];
  int used = snprintf(buf, kLogLineMax + 1, "%s", indent);
  if (used > kLogLineMax) used = kLogLineMax;
  va_list ap;
  va_start(ap, format);
  format_into(buf + used, kLogLineMax + 1 - used, format, ap);
  va_end(ap);
  if (level <= info_level) fprintf(stdout, "%s\n", buf);
}

void debug_log(int level, const char *fname, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  named_line(debug_level, level, stdout, fname, format, ap);
  va_end(ap);
}

void error_log(int level, const char *fname, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  named_line(error_level, level, stderr, fname, format, ap);
  va_end(ap);
}

FILE *open_file(const char *file_name, const char *mode) {
  if (debug_level)
    debug_log(4, "open_file", "Method Called. file_name = %s, mode = %s", file_name, mode);
  FILE *fp = fopen(file_name, mode);
  if (!fp) error_log(1, "open_file", "Unable to open file %s", file_name);
  return fp;
}
