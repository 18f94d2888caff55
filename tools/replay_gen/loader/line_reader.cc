#include "tools/replay_gen/loader/line_reader.h"

#include <string.h>

#include <algorithm>

namespace {

// Puts back the byte that the last in-place line's NUL stood in for.
void restore_held(LineReader *reader) {
  if (!reader->holding) return;
  reader->chunk[reader->held_at] = reader->held_byte;
  reader->holding = false;
}

bool refill(LineReader *reader) {
  reader->pos = 0;
  reader->end = fread(reader->chunk, 1, kLineReaderChunk, reader->fp);
  if (reader->end == 0 && ferror(reader->fp)) reader->failed = true;
  return reader->end > 0;
}

// The end of the last whole line in [from, to): just after its newline.
const char *whole_lines_end(const char *from, const char *to) {
  const char *nl = static_cast<const char *>(memrchr(from, '\n', static_cast<size_t>(to - from)));
  return nl ? nl + 1 : from;
}

// The start of the first line in [from, to) that begins with prefix, or to.
// Only the prefix's first byte is searched for, so a body is scanned once
// rather than line by line.
const char *first_line_with_prefix(const char *from, const char *to, const char *prefix,
                                   size_t prefix_len) {
  for (const char *at = from; at < to; at++) {
    at = static_cast<const char *>(memchr(at, prefix[0], static_cast<size_t>(to - at)));
    if (!at) break;
    bool line_start = at == from || at[-1] == '\n';
    if (line_start && static_cast<size_t>(to - at) >= prefix_len &&
        memcmp(at, prefix, prefix_len) == 0)
      return at;
  }
  return to;
}

// The start of the first line of [from, to) that is limit - 1 bytes or
// longer (such a line is read in pieces, not passed over), or to.
const char *before_long_line(const char *from, const char *to, size_t limit) {
  for (const char *at = from; at < to;) {
    const char *nl = static_cast<const char *>(memchr(at, '\n', static_cast<size_t>(to - at)));
    if (static_cast<size_t>(nl - at) + 1 >= limit - 1) return at;
    at = nl + 1;
  }
  return to;
}

// Counts the newlines of [from, to) sixteen bytes at a time: each lane of
// sums counts the newlines met in its column, for at most 255 blocks.
uint64_t newlines_in(const char *from, const char *to) {
  typedef unsigned char Block __attribute__((vector_size(16)));
  const Block newline = {'\n', '\n', '\n', '\n', '\n', '\n', '\n', '\n',
                         '\n', '\n', '\n', '\n', '\n', '\n', '\n', '\n'};
  uint64_t count = 0;
  while (to - from >= 16) {
    size_t blocks = std::min<size_t>(static_cast<size_t>(to - from) / 16, 255);
    Block sums = {};
    for (size_t i = 0; i < blocks; i++, from += 16) {
      Block block;
      memcpy(&block, from, sizeof block);
      sums -= reinterpret_cast<Block>(block == newline);  // a match is -1
    }
    for (int lane = 0; lane < 16; lane++) count += sums[lane];
  }
  for (; from < to; from++) count += *from == '\n';
  return count;
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
  const char *stop = first_line_with_prefix(start, end, prefix, prefix_len);
  if (stop == end) stop = whole_lines_end(start, end);
  if (static_cast<size_t>(stop - start) >= limit - 1) stop = before_long_line(start, stop, limit);
  *lines += newlines_in(start, stop);
  size_t skipped = static_cast<size_t>(stop - start);
  reader->pos += skipped;
  reader->offset += static_cast<int64_t>(skipped);
  return skipped;
}
