#include "tools/replay_gen/loader/line_reader.h"

#include <string.h>

namespace {

// Puts back the byte that the last in-place line's NUL stood in for.
void restore_held(LineReader *reader) {
  if (!reader->holding) return;
  reader->chunk[reader->held_at] = reader->held_byte;
  reader->holding = false;
}

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
  reader->holding = false;
}

size_t read_line(LineReader *reader, char *buf, size_t limit) {
  restore_held(reader);
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

size_t read_line_in_place(LineReader *reader, char *buf, size_t limit, char **line) {
  restore_held(reader);
  size_t avail = reader->end - reader->pos;
  if (avail > limit - 1) avail = limit - 1;
  char *from = reader->chunk + reader->pos;
  const char *nl = avail ? static_cast<const char *>(memchr(from, '\n', avail)) : nullptr;
  if (!nl) {
    *line = buf;
    return read_line(reader, buf, limit);
  }
  size_t take = static_cast<size_t>(nl - from) + 1;
  reader->pos += take;
  reader->offset += static_cast<int64_t>(take);
  reader->held_at = reader->pos;
  reader->held_byte = reader->chunk[reader->pos];
  reader->holding = true;
  reader->chunk[reader->pos] = '\0';
  *line = from;
  return take;
}

size_t skip_lines_without_prefix(LineReader *reader, const char *prefix, size_t prefix_len,
                                 size_t limit, uint64_t *lines) {
  restore_held(reader);
  const char *start = reader->chunk + reader->pos;
  const char *end = reader->chunk + reader->end;
  const char *at = start;
  while (at < end) {
    const char *nl = static_cast<const char *>(memchr(at, '\n', static_cast<size_t>(end - at)));
    if (!nl) break;
    size_t len = static_cast<size_t>(nl - at) + 1;
    if (len >= limit - 1) break;
    if (len >= prefix_len && at[0] == prefix[0] && memcmp(at, prefix, prefix_len) == 0) break;
    ++*lines;
    at = nl + 1;
  }
  size_t skipped = static_cast<size_t>(at - start);
  reader->pos += skipped;
  reader->offset += static_cast<int64_t>(skipped);
  return skipped;
}
