// One request entry of a worker's request file, planned: where it goes and
// how long it is. The writer threads put the bytes there afterwards.
#include "tools/replay_gen/output/request_entry.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>

#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_files.h"
#include "tools/replay_gen/trace_names.h"

namespace {

const char *const kFname = trace_name::kAddRequest;
constexpr const char *kLengthField = "Content-Length: ";
constexpr const char *kHeadEnd = "\r\n\r\n";

// The creation-timestamp fields of an entry: offsets count from the start of
// the entry, so the head length is added to the body offset.
bool set_creation_ts(ReqNode *row, const SeqData &rec, uint64_t head_len, Failure *err) {
  row->type = 0;
  row->creation_ts_offset = 0;
  row->creation_ts_size = 0;
  if (rec.creation_ts_offset == 0) return true;
  uint64_t at = rec.creation_ts_offset + head_len;
  if (at > std::numeric_limits<uint32_t>::max())
    return fail(err, kFname, "Creation timestamp offset %lu in the entry is above %u", at,
                std::numeric_limits<uint32_t>::max());
  row->type = rec.type;
  row->creation_ts_offset = static_cast<uint32_t>(at);
  row->creation_ts_size = rec.creation_ts_size;
  return true;
}

// Hands out the next ReqNode row of user, or null with *err. Most users have
// a few requests, so the list starts with one row and grows by half its size
// (at least one row): a user with very many requests is not copied over and
// over.
ReqNode *take_request_row(UserNode *user, Failure *err) {
  if (user->num_req == user->max_requests) {
    constexpr uint32_t kMaxRows = std::numeric_limits<uint32_t>::max();
    if (user->max_requests == kMaxRows) {
      fail(err, trace_name::kCreateTableEntry,
           "Table %s is full: it cannot hold more than %u entries", "Request Node", kMaxRows);
      return nullptr;
    }
    uint64_t rows = user->max_requests + std::max<uint64_t>(1, user->max_requests / 2);
    rows = std::min<uint64_t>(rows, kMaxRows);
    size_t bytes = rows * sizeof(ReqNode);
    auto *grown = static_cast<ReqNode *>(realloc(user->req_node, bytes));
    if (!grown) {
      out_of_memory(err, trace_name::kCreateTableEntry, "Request Node",
                    static_cast<long long>(bytes));
      return nullptr;
    }
    user->req_node = grown;
    user->max_requests = static_cast<uint32_t>(rows);
  }
  return &user->req_node[user->num_req++];
}

// The service of page_id, which must have a composed head; null with *err.
const ServiceMap *head_service(const RunState &run, int page_id, int vvm_id, Failure *err) {
  if (page_id < 0 || page_id >= run.services.num_service_file ||
      !run.services.service_map_ptr[page_id].all_headers) {
    fail(err, kFname, "Unable to write header in vt_req_%d", vvm_id);
    return nullptr;
  }
  return &run.services.service_map_ptr[page_id];
}

uint64_t top_line_size(const RunState &run) {
  return run.config.req_top_line ? static_cast<uint64_t>(run.config.req_top_line_len) : 0;
}

}  // namespace

bool append_entry_head(const RunState &run, std::string *head, int page_id, uint64_t body_size,
                       int vvm_id, Failure *err) {
  const ServiceMap *svc = head_service(run, page_id, vvm_id, err);
  if (!svc) return false;
  uint64_t top_len = top_line_size(run);
  head->append(svc->all_headers, static_cast<size_t>(svc->all_headers_len));
  head->append(kLengthField);
  head->append(std::to_string(body_size + top_len));
  head->append(kHeadEnd);
  if (top_len) head->append(run.config.req_top_line);
  return true;
}

bool entry_head_size(const RunState &run, int page_id, uint64_t body_size, int vvm_id,
                     uint64_t *size, Failure *err) {
  const ServiceMap *svc = head_service(run, page_id, vvm_id, err);
  if (!svc) return false;
  uint64_t top_len = top_line_size(run);
  char digits[24];
  size_t digits_len = static_cast<size_t>(
      std::to_chars(digits, digits + sizeof digits, body_size + top_len).ptr - digits);
  *size = static_cast<uint64_t>(svc->all_headers_len) + strlen(kLengthField) + digits_len +
          strlen(kHeadEnd) + top_len;
  return true;
}

bool place_entry(RunState &run, const SeqData &rec, uint64_t user_id, int vvm_id, ReqNode *row,
                 Failure *err) {
  if (run.log.debug_level) {
    debug_log(run.log, 4, kFname,
              "Method Called, user_id = %lu, page_id = %d, time_stamp = %lu. seq_file_fp = %p",
              user_id, rec.service_id, rec.time_stamp, static_cast<void *>(rec.req_file_fp));
    // The writer threads copy the body later; its input descriptor is shown
    // here, in the order of the records.
    debug_log(run.log, 2, kFname, "fdin = %d", rec.req_file_fp ? fileno(rec.req_file_fp) : -1);
  }
  row->page_id = rec.service_id;
  row->time_stamp = rec.time_stamp;
  uint64_t head_size;
  if (!entry_head_size(run, rec.service_id, rec.req_size, vvm_id, &head_size, err) ||
      !set_creation_ts(row, rec, head_size, err))
    return false;
  Vvm &vvm = run.workers.vvm_list[vvm_id];
  row->offset = vvm.offset;
  row->size = head_size + rec.req_size + 1;
  vvm.offset += static_cast<off_t>(row->size);
  run.counters.total_requests++;
  return true;
}

bool add_request_new(RunState &run, UserNode *user, const SeqData &rec, Failure *err) {
  ReqNode *row = take_request_row(user, err);
  if (!row) return false;
  if (user->num_req > run.counters.max_req_per_user) run.counters.max_req_per_user = user->num_req;
  return place_entry(run, rec, user->user_id, user->vvm_id, row, err);
}
