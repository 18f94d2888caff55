#include "tools/replay_gen/log.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "base/core/input_file.h"
#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/trace_names.h"

namespace {

// Writes one line to stream: "indent message", after "fname:" when fname is
// given. The message is cut at kLogLineMax characters, indent included. Kept
// out of line so that a call whose gate is shut pays for no buffer. With
// escape, control characters show as \r, \t or \xHH (line ends too, but
// for those that end the message), so that a value read from a file cannot
// hide or garble the line on a terminal.
__attribute__((noinline)) void write_line(FILE *stream, const char *fname, const char *indent,
                                          const char *format, va_list ap, bool escape = false) {
  char buf[kLogBufSize];
  int used = snprintf(buf, kLogLineMax + 1, "%s", indent);
  if (used > kLogLineMax) used = kLogLineMax;
  vsnprintf(buf + used, kLogLineMax + 1 - used, format, ap);
  std::string shown;
  if (escape) {
    shown = printable_text(buf);
    if (shown.size() > static_cast<size_t>(kLogLineMax)) shown.resize(kLogLineMax);
  }
  const char *text = escape ? shown.c_str() : buf;
  if (fname)
    fprintf(stream, "%s:%s\n", fname, text);
  else
    fprintf(stream, "%s\n", text);
}

bool shut(const LogGates &log, int gate, int level) {
  return log.quiet || gate == 0 || level > gate;
}

}  // namespace

std::string printable_text(const char *text) {
  size_t len = strlen(text), end = len;
  while (end > 0 && text[end - 1] == '\n') end--;
  std::string out;
  out.reserve(len);
  for (size_t i = 0; i < len; i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (i >= end || (c >= 0x20 && c != 0x7f)) {
      out += static_cast<char>(c);
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

void info_log(const LogGates &log, int level, const char *indent, const char *format, ...) {
  if (shut(log, log.info_level, level)) return;
  va_list ap;
  va_start(ap, format);
  write_line(stdout, nullptr, indent, format, ap);
  va_end(ap);
}

void debug_log(const LogGates &log, int level, const char *fname, const char *format, ...) {
  if (shut(log, log.debug_level, level)) return;
  va_list ap;
  va_start(ap, format);
  write_line(stdout, fname, "", format, ap);
  va_end(ap);
}

void error_log(const LogGates &log, int level, const char *fname, const char *format, ...) {
  if (shut(log, log.error_level, level)) return;
  va_list ap;
  va_start(ap, format);
  write_line(stderr, fname, "", format, ap, true);
  va_end(ap);
}

void console_printf(const LogGates &log, const char *format, ...) {
  if (log.quiet) return;
  va_list ap;
  va_start(ap, format);
  vfprintf(stdout, format, ap);
  va_end(ap);
}

FILE *open_file(const LogGates &log, const char *file_name, const char *mode, Failure *err) {
  if (log.debug_level)
    debug_log(log, 4, trace_name::kOpenFile, "Method Called. file_name = %s, mode = %s", file_name,
              mode);
  if (strcmp(mode, "r") != 0) {
    FILE *fp = fopen(file_name, mode);
    if (!fp) fail(err, trace_name::kOpenFile, "Unable to open file %s", file_name);
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
    fail(err, trace_name::kOpenFile, "Unable to open file %s: %s", file_name, why.c_str());
  else
    fail(err, trace_name::kOpenFile, "Unable to open file %s", file_name);
  return nullptr;
}
