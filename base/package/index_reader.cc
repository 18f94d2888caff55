#include "base/package/index_reader.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "base/core/decimal.h"

namespace {

constexpr size_t kBufferBytes = 1 << 20;

// Makes at least `want` bytes available from pos, or all that is left; the
// bytes available. A failed read is a fault.
size_t fill(IndexReader *r, size_t want, std::string *fault) {
  if (r->end - r->pos >= want || r->eof) return r->end - r->pos;
  memmove(r->buf.data(), r->buf.data() + r->pos, r->end - r->pos);
  r->buf_offset += r->pos;
  r->end -= r->pos;
  r->pos = 0;
  while (r->end < want && !r->eof) {
    ssize_t got = read(r->fd, r->buf.data() + r->end, r->buf.size() - r->end);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *fault = std::string("cannot read: ") + strerror(errno);
      return 0;
    }
    r->eof = got == 0;
    r->end += static_cast<size_t>(got);
  }
  return r->end - r->pos;
}

bool fail(std::string *fault, const std::string &text) {
  *fault = text;
  return false;
}

}  // namespace

void start_index_reader(IndexReader *r, int fd, int worker) {
  *r = IndexReader{};
  r->fd = fd;
  r->worker = worker;
  r->buf.resize(kBufferBytes);
}

bool read_index_header(IndexReader *r, std::string *fault) {
  fault->clear();
  r->line = 1;
  size_t have = fill(r, kIndexHeaderSize, fault);
  if (!fault->empty()) return false;
  if (have == 0) return fail(fault, "empty, not even its header line");
  if (have < kIndexHeaderSize || memcmp(r->buf.data() + r->pos, kIndexHeader, kIndexHeaderSize))
    return fail(fault, "not the header line of an index file");
  r->pos += kIndexHeaderSize;
  return true;
}

bool next_index_user(IndexReader *r, uint64_t *user_id, std::string *fault) {
  fault->clear();
  std::string name = ",vt_req_" + std::to_string(r->worker);
  size_t have = fill(r, kMaxIndexGroupBytes + name.size() + 1, fault);
  if (!fault->empty() || have == 0) return false;
  r->line++;
  r->group = 0;
  const char *s = r->buf.data() + r->pos;
  bool big = false;
  size_t n = vtlb_read_u64(s, have, user_id, &big);
  if (big) return fail(fault, "the user id is too large (above 18446744073709551615)");
  if (n < 9 || n > kMaxIndexGroupBytes) return fail(fault, "no user id of 9 digits or more");
  if (have - n < name.size() || memcmp(s + n, name.data(), name.size()) != 0 ||
      (have > n + name.size() && s[n + name.size()] != ',' && s[n + name.size()] != '\n'))
    return fail(fault, "the user is not on " + name.substr(1));
  r->pos += n + name.size();
  return true;
}

bool next_index_group(IndexReader *r, IndexGroup *g, std::string *fault) {
  fault->clear();
  size_t have = fill(r, kMaxIndexGroupBytes + 1, fault);
  if (!fault->empty()) return false;
  const char *s = r->buf.data() + r->pos;
  if (have == 0) return fail(fault, "the file ends in the middle of a line");
  if (s[0] == '\n') {
    if (r->group == 0) return fail(fault, "a user without requests");
    r->pos++;
    return false;
  }
  r->group++;
  size_t used = parse_index_group(s, have, g, fault);
  if (used == 0) return false;
  if (used > kMaxIndexGroupBytes)
    return fail(fault, "a group longer than " + std::to_string(kMaxIndexGroupBytes) + " bytes");
  if (used == have) return fail(fault, "the file ends in the middle of a line");
  r->group_at = r->buf_offset + r->pos;
  r->group_bytes = used;
  r->pos += used;
  return true;
}

void skip_index_line(IndexReader *r) {
  std::string fault;
  while (fill(r, 1, &fault) > 0) {
    const char *s = r->buf.data() + r->pos;
    const char *nl = static_cast<const char *>(memchr(s, '\n', r->end - r->pos));
    if (nl) {
      r->pos += static_cast<size_t>(nl - s) + 1;
      return;
    }
    r->pos = r->end;
  }
}

std::string index_reader_where(const IndexReader &r) {
  std::string where = index_file_name(r.worker) + " line " + std::to_string(r.line);
  return r.group ? where + " group " + std::to_string(r.group) : where;
}
