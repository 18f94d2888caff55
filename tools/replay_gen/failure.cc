#include "tools/replay_gen/failure.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

std::string formatted(const char *format, va_list ap) {
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(nullptr, 0, format, again);
  va_end(again);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) vsnprintf(text.data(), text.size() + 1, format, ap);
  return text;
}

bool add_error_line(Failure *f, int status, const char *fname, const char *format, va_list ap) {
  if (f->status == 0) f->status = status;
  f->lines.push_back({FailureLine::kError, fname, formatted(format, ap)});
  return false;
}

}  // namespace

bool fail(Failure *f, const char *fname, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  add_error_line(f, -1, fname, format, ap);
  va_end(ap);
  return false;
}

bool fail_with(Failure *f, int status, const char *fname, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  add_error_line(f, status, fname, format, ap);
  va_end(ap);
  return false;
}

bool fail_text(Failure *f, bool to_stdout, const std::string &text) {
  if (f->status == 0) f->status = -1;
  f->lines.push_back({to_stdout ? FailureLine::kOut : FailureLine::kErr, "", text});
  return false;
}

bool out_of_memory(Failure *f, const char *fname, const char *what, long long size, int index) {
  return fail(f, fname, "Out of Memory: %s (size = %lld) for index %d", what, size, index);
}

void write_failure(const LogGates &log, const Failure &f) {
  for (const FailureLine &line : f.lines) {
    if (line.kind == FailureLine::kError)
      error_log(log, 1, line.fname.c_str(), "%s", line.text.c_str());
    else if (!log.quiet)
      fputs(line.text.c_str(), line.kind == FailureLine::kOut ? stdout : stderr);
  }
}
