#include <string.h>

#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"

// Splits as repeated strtok_r calls would, and leaves the buffer as they
// would: each field found is ended by a NUL in place of the separator after
// it, the field that overflows the table included. Separators are looked up
// in a table instead of scanning the separator text at every byte.
int get_tokens_local(const LogGates &log, char *read_buf, char *fields[], const char *token,
                     int max_flds) {
  bool separator[256] = {};
  for (const char *t = token; *t; t++) separator[static_cast<unsigned char>(*t)] = true;
  auto is_separator = [&separator](char c) { return separator[static_cast<unsigned char>(c)]; };
  int count = 0;
  char *at = read_buf;
  for (;;) {
    while (*at && is_separator(*at)) at++;
    if (!*at) return count;
    char *field = at;
    while (*at && !is_separator(*at)) at++;
    if (*at) *at++ = '\0';
    if (count == max_flds) {
      error_log(log, 2, "get_tokens_local",
                "Total fields are more than max fields (%d), remaining fields are ignored",
                max_flds);
      return max_flds + 1;
    }
    fields[count++] = field;
  }
}
