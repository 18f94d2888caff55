// Line reading that keeps byte counts and file offsets exact whatever the
// bytes are: a NUL inside a line neither shortens it nor shifts the offsets
// of the lines that follow.
#ifndef VT_REPLAY_GEN_LOADER_LINE_READER_H_
#define VT_REPLAY_GEN_LOADER_LINE_READER_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

constexpr size_t kLineReaderChunk = 256 * 1024;

struct LineReader {
  FILE *fp;
  int64_t offset;  // file offset of the next byte read_line returns
  size_t pos;      // next unread byte of chunk
  size_t end;      // bytes held in chunk
  bool failed;     // the stream reported a read error
  bool holding;    // chunk[held_at] holds a line's NUL instead of held_byte
  size_t held_at;
  char held_byte;
  char chunk[kLineReaderChunk + 1];  // + the NUL of a line that ends the chunk
};

// Starts reading fp at its current position.
void line_reader_init(LineReader *reader, FILE *fp);

// Copies the next line, line break included, into buf and NUL-terminates it;
// a line longer than limit - 1 bytes comes in pieces of limit - 1 bytes.
// Returns the bytes stored (not counting the NUL); 0 at the end of the file
// or on a read error (reader->failed tells them apart). limit must be >= 2.
size_t read_line(LineReader *reader, char *buf, size_t limit);

// read_line without the copy where it can: *line points at the line inside
// the reader's chunk, NUL-terminated there, or at buf when the line had to be
// put together there. The line may be changed in place; it stays valid until
// the next call.
size_t read_line_in_place(LineReader *reader, char *buf, size_t limit, char **line);

// Passes over the whole lines already read that do not begin with prefix
// (and are shorter than limit - 1 bytes), stopping before the first line that
// does or that is not wholly read yet. Adds the lines passed over to *lines
// and returns their bytes. The lines are those read_line would have returned.
// prefix must not be empty and must not hold a newline.
size_t skip_lines_without_prefix(LineReader *reader, const char *prefix, size_t prefix_len,
                                 size_t limit, uint64_t *lines);

#endif  // VT_REPLAY_GEN_LOADER_LINE_READER_H_
