#include <stdlib.h>

#include <limits>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"

namespace {

template <typename Count>
int grow_and_take(Count *row_num, Count *total, Count *max, char **ptr, int size,
                  const char *name) {
  if (*total == *max) {
    constexpr uint64_t kLimit = std::numeric_limits<Count>::max() / 4 * 4;
    if (*max >= kLimit) {
      error_log(1, "create_table_entry", "Table %s is full: it cannot hold more than %lu entries",
                name, static_cast<unsigned long>(kLimit));
      vt_exit(-1);
    }
    int64_t bytes = (static_cast<int64_t>(*max) + 4) * size;
    if (bytes <= 0 || bytes > std::numeric_limits<int32_t>::max()) {
      error_log(1, "create_table_entry",
                "Trying to realloc a negative or 0 size (%d) for index  %d",
                static_cast<int32_t>(bytes), -1);
      vt_exit(-1);
    }
    char *grown = static_cast<char *>(realloc(*ptr, bytes));
    if (!grown) {
      error_log(1, "create_table_entry", "Out of Memory: %s (size = %d) for index %d", name,
                static_cast<int32_t>(bytes), -1);
      vt_exit(-1);
    }
    *ptr = grown;
    *max += 4;
  }
  *row_num = (*total)++;
  return 0;
}

}  // namespace

int create_table_entry(uint16_t *row_num, uint16_t *total, uint16_t *max, char **ptr, int size,
                       const char *name) {
  return grow_and_take(row_num, total, max, ptr, size, name);
}

int create_table_entry(uint32_t *row_num, uint32_t *total, uint32_t *max, char **ptr, int size,
                       const char *name) {
  return grow_and_take(row_num, total, max, ptr, size, name);
}
