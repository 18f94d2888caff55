#include "tools/replay_gen/loader/line_reader.h"

#include <string.h>

namespace {

bool refill(LineReader *reader) {
  reader->pos = 0;
  reader->end = fread(reader->chunk, 1, sizeof reader->chunk, reader->fp);
  if (reader->end == 0 && ferror(reader->fp)) reader->failed = true;
  return reader->end > 0;
}

}  // namespace

void line_reader_init(LineReader *reader, FILE *fp) {
  reader->fp = fp;
  off_t start = ftello(fp);
  reader->offset = start < 0 ? 0 : start;
  reader->pos = reader->end = 0;
  reader->failed = false;
}

size_t read_line(LineReader *reader, char *buf, size_t limit) {
  size_t room = limit - 1;
  size_t stored = 0;
  while (stored < room) {
    if (reader->pos == reader->end && !refill(reader)) break;
    size_t avail = reader->end - reader->pos;
    if (avail > room - stored) avail = room - stored;
    const char *from = reader->chunk + reader->pos;
    const char *nl = static_cast<const char *>(memchr(from, '\n', avail));
    size_t take = nl ? static_cast<size_t>(nl - from) + 1 : avail;
    memcpy(buf + stored, from, take);
    stored += take;
    reader->pos += take;
    if (nl) break;
  }
  buf[stored] = '\0';
  reader->offset += static_cast<int64_t>(stored);
  return stored;
}
