// The streaming reader of an index file, shared by every program that reads
// one: a line at a time, a group at a time, through a buffer of fixed size,
// so that memory does not grow with a user's requests. A fault names what is
// wrong; the caller names where (index_reader_where).
#ifndef VT_BASE_PACKAGE_INDEX_READER_H_
#define VT_BASE_PACKAGE_INDEX_READER_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/package/package_format.h"

struct IndexReader {
  int fd = -1;  // the caller's; the reader does not close it
  int worker = 0;
  std::vector<char> buf;
  size_t pos = 0, end = 0;
  uint64_t buf_offset = 0;  // the file offset of buf[0]
  bool eof = false;
  uint64_t line = 0;       // the line being read, from 1
  uint32_t group = 0;      // groups read of the line
  uint64_t group_at = 0;   // the file offset of the last group read (its comma)
  size_t group_bytes = 0;  // and its length
};

void start_index_reader(IndexReader *r, int fd, int worker);

// Reads the header line: false with *fault when it is not kIndexHeader.
bool read_index_header(IndexReader *r, std::string *fault);

// Reads the start of the next user line, "<user id>,vt_req_<worker>". False
// at the end of the file (*fault empty) or with *fault.
bool next_index_user(IndexReader *r, uint64_t *user_id, std::string *fault);

// Reads the next group of the line. False at the line's end (*fault empty:
// the line had at least one group) or with *fault.
bool next_index_group(IndexReader *r, IndexGroup *g, std::string *fault);

// After a fault in a line: on to the next line.
void skip_index_line(IndexReader *r);

// "vt_index_<w> line <n>", and " group <k>" inside the groups.
std::string index_reader_where(const IndexReader &r);

#endif  // VT_BASE_PACKAGE_INDEX_READER_H_
