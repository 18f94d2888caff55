#include <string.h>

#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"

int get_tokens_local(char *read_buf, char *fields[], const char *token, int max_flds) {
  int count = 0;
  char *save = nullptr;
  for (char *field = strtok_r(read_buf, token, &save); field;
       field = strtok_r(nullptr, token, &save)) {
    if (count == max_flds) {
      error_log(2, "get_tokens_local",
                "Total fields are more than max fields (%d), remaining fields are ignored",
                max_flds);
      return max_flds + 1;
    }
    fields[count++] = field;
  }
  return count;
}
