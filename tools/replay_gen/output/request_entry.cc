// One request entry of a worker's request file: head, body, newline.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <string>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_files.h"

namespace {

const char *const kFname = "add_request_new";

// The most one sendfile call moves on Linux.
constexpr uint64_t kMaxSendfileChunk = 0x7ffff000;

// The head of an entry: the service's head lines, the length line, the empty
// line and the configured top lines. Reused from one request to the next.
const std::string &compose_head(int page_id, uint64_t body_size, int vvm_id) {
  static std::string head;
  if (page_id < 0 || page_id >= num_service_file || !service_map_ptr[page_id].all_headers) {
    error_log(1, kFname, "Unable to write header in vt_req_%d", vvm_id);
    vt_exit(-1);
  }
  uint64_t top_len = req_top_line ? strlen(req_top_line) : 0;
  const ServiceMap &svc = service_map_ptr[page_id];
  head.assign(svc.all_headers, static_cast<size_t>(svc.all_headers_len));
  head.append("Content-Length: ");
  head.append(std::to_string(body_size + top_len));
  head.append("\r\n\r\n");
  if (top_len) head.append(req_top_line);
  return head;
}

// One write of all len bytes; a short write counts as a failure.
bool write_whole(int fd, const char *buf, size_t len) {
  ssize_t done;
  do {
    done = write(fd, buf, len);
  } while (done < 0 && errno == EINTR);
  return done >= 0 && static_cast<size_t>(done) == len;
}

int input_descriptor(FILE *fp) {
  int fd = fp ? fileno(fp) : -1;
  if (fd < 0) {
    error_log(1, kFname, "error in fileno(). seq_file_fp %p %s", static_cast<void *>(fp),
              strerror(fp ? errno : EBADF));
    vt_exit(-1);
  }
  return fd;
}

// Copies size bytes at body_offset of in_fd to the end of out_fd by the
// kernel, looping over interrupted and partial copies.
void copy_body(int out_fd, int in_fd, off_t body_offset, uint64_t size) {
  if (debug_level)
    debug_log(4, kFname, "sendfile args: fdout %d fdin %d off %ld size %lu\n", out_fd, in_fd,
              static_cast<long>(body_offset), size);
  off_t in_off = body_offset;
  uint64_t copied = 0;
  while (copied < size) {
    size_t chunk = static_cast<size_t>(std::min(size - copied, kMaxSendfileChunk));
    ssize_t got = sendfile(out_fd, in_fd, &in_off, chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      const char *why = got < 0 ? strerror(errno) : "input file ends before the body does";
      error_log(1, kFname,
                "sendfile error:%s ret %ld request_size %lu offset(in) %ld offset(out) %ld", why,
                got < 0 ? -1L : static_cast<long>(copied), size, static_cast<long>(body_offset),
                static_cast<long>(in_off));
      vt_exit(1);
    }
    copied += static_cast<uint64_t>(got);
  }
}

// The creation-timestamp fields of an entry: offsets count from the start of
// the entry, so the head length is added to the body offset.
void set_creation_ts(ReqNode *row, const SeqData &rec, uint64_t head_len) {
  row->type = 0;
  row->creation_ts_offset = 0;
  row->creation_ts_size = 0;
  if (rec.creation_ts_offset == 0) return;
  uint64_t at = rec.creation_ts_offset + head_len;
  if (at > std::numeric_limits<uint32_t>::max()) {
    error_log(1, kFname, "Creation timestamp offset %lu in the entry is above %u", at,
              std::numeric_limits<uint32_t>::max());
    vt_exit(-1);
  }
  row->type = rec.type;
  row->creation_ts_offset = static_cast<uint32_t>(at);
  row->creation_ts_size = rec.creation_ts_size;
}

// Hands out the next ReqNode row of user. The list grows by four rows while
// it is short and by half its size after that, so that a user with very many
// requests is not copied over and over.
ReqNode *take_request_row(UserNode *user) {
  if (user->num_req == user->max_requests) {
    constexpr uint32_t kMaxRows = std::numeric_limits<uint32_t>::max();
    if (user->max_requests == kMaxRows) {
      error_log(1, "create_table_entry", "Table %s is full: it cannot hold more than %u entries",
                "Request Node", kMaxRows);
      vt_exit(-1);
    }
    uint64_t rows = user->max_requests + std::max<uint64_t>(4, user->max_requests / 2);
    rows = std::min<uint64_t>(rows, kMaxRows);
    size_t bytes = rows * sizeof(ReqNode);
    auto *grown = static_cast<ReqNode *>(realloc(user->req_node, bytes));
    if (!grown) {
      error_log(1, "create_table_entry", "Out of Memory: %s (size = %zu) for index %d",
                "Request Node", bytes, -1);
      vt_exit(-1);
    }
    user->req_node = grown;
    user->max_requests = static_cast<uint32_t>(rows);
  }
  return &user->req_node[user->num_req++];
}

}  // namespace

void add_request_new(UserNode *user, const SeqData &rec) {
  if (debug_level)
    debug_log(4, kFname,
              "Method Called, user_id = %lu, page_id = %d, time_stamp = %lu. seq_file_fp = %p",
              user->user_id, rec.service_id, rec.time_stamp, static_cast<void *>(rec.req_file_fp));
  ReqNode *row = take_request_row(user);
  if (user->num_req > max_req_per_user) max_req_per_user = user->num_req;
  row->page_id = rec.service_id;
  row->time_stamp = rec.time_stamp;

  Vvm &vvm = vvm_list[user->vvm_id];
  const std::string &head = compose_head(rec.service_id, rec.req_size, user->vvm_id);
  set_creation_ts(row, rec, head.size());
  int fdin = input_descriptor(rec.req_file_fp);
  if (debug_level) debug_log(2, kFname, "fdin = %d", fdin);
  if (!write_whole(vvm.vt_req_file_fd, head.data(), head.size())) {
    error_log(1, kFname, "header write to output file (vt_req_xx) failed");
    vt_exit(-1);
  }
  copy_body(vvm.vt_req_file_fd, fdin, rec.req_offset, rec.req_size);
  if (!write_whole(vvm.vt_req_file_fd, "\n", 1)) {
    error_log(1, kFname, "Unable to write request in index_%d", user->vvm_id);
    vt_exit(-1);
  }
  row->offset = vvm.offset;
  row->size = head.size() + rec.req_size + 1;
  vvm.offset += static_cast<off_t>(row->size);
  total_requests++;
}
