#include <stdlib.h>
#include <string.h>

#include <limits>

#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/trace_names.h"

bool create_table_entry(uint16_t *row_num, uint16_t *total, uint16_t *max, char **ptr, int size,
                        const char *name, Failure *err) {
  if (*total == *max) {
    constexpr uint64_t kLimit = std::numeric_limits<uint16_t>::max() / 4 * 4;
    if (*max >= kLimit)
      return fail(err, trace_name::kCreateTableEntry,
                  "Table %s is full: it cannot hold more than %lu entries", name,
                  static_cast<unsigned long>(kLimit));
    int64_t bytes = (static_cast<int64_t>(*max) + 4) * size;
    if (bytes <= 0 || bytes > std::numeric_limits<int32_t>::max())
      return fail(err, trace_name::kCreateTableEntry,
                  "Trying to realloc a negative or 0 size (%d) for index  %d",
                  static_cast<int32_t>(bytes), -1);
    char *grown = static_cast<char *>(realloc(*ptr, bytes));
    if (!grown)
      return out_of_memory(err, trace_name::kCreateTableEntry, name, static_cast<int32_t>(bytes));
    *ptr = grown;
    *max += 4;
  }
  *row_num = (*total)++;
  return true;
}

char *copy_text(const LogGates &log, const char *fname, const char *what, const char *text,
                size_t room, Failure *err, int index) {
  size_t len = strlen(text);
  long long size = static_cast<long long>(len + room);
  if (log.debug_level)
    debug_log(log, 2, fname, "Allocating memory for %s. size = %lld", what, size);
  char *copy = static_cast<char *>(malloc(len + room));
  if (!copy) {
    out_of_memory(err, fname, what, size, index);
    return nullptr;
  }
  memcpy(copy, text, len + 1);
  return copy;
}

bool append_text(char **text, int32_t *len, const char *value, const char *line_end,
                 const char *what, const char *fname, Failure *err) {
  int64_t value_len = static_cast<int64_t>(strlen(value));
  int64_t end_len = static_cast<int64_t>(strlen(line_end));
  // The size is a 32-bit count: a text that outgrows it shows as not positive.
  int32_t size = static_cast<int32_t>(static_cast<uint32_t>(*len + value_len + end_len + 1));
  if (size <= 0)
    return fail(err, fname, "Trying to realloc a negative or 0 size (%d) for index  %d", size, -1);
  char *grown = static_cast<char *>(realloc(*text, size));
  if (!grown) return out_of_memory(err, fname, what, size);
  *text = grown;
  memcpy(grown + *len, value, value_len);
  memcpy(grown + *len + value_len, line_end, end_len);
  *len = size - 1;
  grown[*len] = '\0';
  return true;
}
