// The body section of a record: body ranges, creation timestamps, customer
// ids, and what happens at the end line.
#include <stdlib.h>
#include <string.h>

#include "tools/replay_gen/loader/field_extract.h"
#include "tools/replay_gen/loader/record_spill.h"
#include "tools/replay_gen/loader/record_state.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/services/runtime_services.h"
#include "tools/replay_gen/services/service_map.h"
#include "tools/replay_gen/trace_names.h"

namespace {

constexpr const char *kFn = trace_name::kLoadSequenceFile;

int thread_id(const FileParse &p) {
  return p.thread->thread_id;
}

void reject_at_end(FileParse &p, ErrorIndex error) {
  p.rec.ignore_request = 1;
  record_error(p.thread, error, p.seq_file, p.line_no);
}

Failure *failure_of(FileParse &p) {
  return p.thread->failure;
}

// Index of the record's pair in the service table (-1 when none) in *idx.
bool configured_service_idx(FileParse &p, int *idx) {
  const RecordState &r = p.rec;
  uint64_t hash = service_cache_hash(r.service_name, r.url);
  int16_t cached = -1;
  char type = 0;
  if (service_cache_find(*p.run, &p.services, p.thread, hash, r.service_name, r.url, &cached,
                         &type)) {
    *idx = type == SERVICE_MAP_ENTRY ? cached : -1;
    return true;
  }
  *idx = get_service_idx(*p.run, r.service_name, r.url);
  return *idx < 0 || service_cache_add(&p.services, hash, static_cast<int16_t>(*idx),
                                       SERVICE_MAP_ENTRY, failure_of(p));
}

// The service of an accepted record: from the pairs seen before, or from
// the catalogue, which adds the pair to the thread's list when it is new.
bool classify_service(FileParse &p) {
  RecordState &r = p.rec;
  uint64_t hash = service_cache_hash(r.service_name, r.url);
  if (service_cache_find(*p.run, &p.services, p.thread, hash, r.service_name, r.url,
                         &r.service_index, &r.service_type))
    return true;
  return get_and_save_runtime_service_data(*p.run, p.thread, r.service_name, r.url, r.soap_action,
                                           &r.service_index, &r.service_type, failure_of(p)) &&
         service_cache_add(&p.services, hash, r.service_index, r.service_type, failure_of(p));
}

// The customer id element's name for the record: the configured service's
// tag when the record's service is configured.
bool choose_indexing_tag(FileParse &p) {
  RecordState &r = p.rec;
  if (!r.ignore_request && r.url_line_done && r.service_line_done) {
    if (p.run->log.debug_level)
      debug_log(p.run->log, 4, kFn,
                "Processing Thread[%d]:setting indexing_tag ,url - %s, service_name - %s",
                thread_id(p), r.url, r.service_name);
    int idx;
    if (!configured_service_idx(p, &idx)) return false;
    if (p.run->log.debug_level)
      debug_log(p.run->log, 4, kFn, "Processing Thread[%d]:service_idx = %d", thread_id(p), idx);
    if (idx >= 0) r.indexing_tag = p.run->services.service_map_ptr[idx].indexing_tag;
  }
  r.first_time = 0;
  return true;
}

void measure_body_line(FileParse &p, size_t body_len) {
  SeqData &slot = current_slot(p);
  if (p.rec.request_body_first_line) {
    p.rec.request_body_first_line = 0;
    slot.req_offset = p.line_end_offset - static_cast<int64_t>(body_len);
    slot.req_size = body_len;
    slot.user_node = nullptr;
  } else {
    slot.req_size += body_len;
  }
  if (p.run->log.debug_level)
    debug_log(p.run->log, 4, kFn,
              "Processing Thread[%d]:request # %lu line %lu start offset %ld size %lu \n",
              thread_id(p), *p.seq_no, p.line_no, static_cast<long>(slot.req_offset),
              slot.req_size);
}

void search_customer_id(FileParse &p, char *body) {
  RecordState &r = p.rec;
  int64_t uid = extract_uid(p.run->log, body, r.indexing_tag);
  // Not on this line, or a line whose text is empty (it starts with a NUL
  // byte): the search goes on with the next line.
  if (uid == kUidNotOnLine || uid == kUidNoText) {
    current_slot(p).uid = -1;
    if (p.run->log.debug_level)
      debug_log(p.run->log, 2, kFn,
                "Processing Thread[%d]:uid not found at line %lu. will continue search on next "
                "line if req body continues..\n",
                thread_id(p), p.line_no);
  } else if (uid == kUidEmptyElement) {
    p.thread->t_empty_xacustid_messages++;
    p.thread->t_no_xacustid_messages++;
    info_log(p.run->log, 2, "    ", "Processing Thread[%d]:Found empty XACustid at line %'lu",
             thread_id(p), p.line_no);
    r.uid = 0;
  } else {
    r.uid = uid;
    current_slot(p).uid = uid;
    if (p.run->log.debug_level)
      debug_log(p.run->log, 4, kFn, "Processing Thread[%d]:uid %ld req %lu line %lu", thread_id(p),
                static_cast<long>(uid), *p.seq_no, p.line_no);
  }
}

// Checks of the end line, in order; the first failing one rejects the record.
void check_record_at_end(FileParse &p) {
  RecordState &r = p.rec;
  int id = thread_id(p);
  if (!r.time_stamp_line_done) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:Timestamp was not found in service data (RequestTimeEx=...). "
             "This request will be ignored, line %lu",
             id, p.line_no);
    return reject_at_end(p, kErrTimeMissing);
  }
  if (p.run->options.svc_id_uses_svc_name && !r.soap_action[0]) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:Service name not found in service data (HTTP_SOAPACTION=...) "
             "or (HTTP_WFSOAPACTION=...). This request will be ignored, line %lu",
             id, p.line_no);
    return reject_at_end(p, kErrSoapEmpty);
  }
  if (!r.url_line_done) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:Url name not found in service data (URL=...). This request "
             "will be ignored, line %lu",
             id, p.line_no);
    return reject_at_end(p, kErrUrlMissing);
  }
  uint64_t size = current_slot(p).req_size;
  if (size > 0 && size < kBodyTrailerSize) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:Request body of %lu bytes is shorter than its %lu-byte "
             "trailer. This request will be ignored, line %lu",
             id, size, kBodyTrailerSize, p.line_no);
    return reject_at_end(p, kErrBodyTooShort);
  }
  if (r.uid >= 0) return;
  size_t name_len = strlen(r.service_name);
  if (name_len + strlen(kMissingIndexSuffix) >= kServiceNameSize) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:Service name of %lu bytes leaves no room for %s. This request "
             "will be ignored, line %lu",
             id, name_len, kMissingIndexSuffix, p.line_no);
    return reject_at_end(p, kErrNameTooLong);
  }
  info_log(p.run->log, 2, "    ",
           "Processing Thread[%d]:No uid found in request body at line %lu req %ld", id, p.line_no,
           static_cast<long>(*p.seq_no));
  p.thread->t_no_xacustid_messages++;
  memcpy(r.service_name + name_len, kMissingIndexSuffix, strlen(kMissingIndexSuffix) + 1);
  r.uid = 0;
}

bool accept_record(FileParse &p) {
  RecordState &r = p.rec;
  ThreadArgs *t = p.thread;
  if (!classify_service(p)) return false;
  SeqData &slot = current_slot(p);
  slot.service_id = r.service_index;
  slot.req_file_fp = p.fp;
  if (slot.req_size) slot.req_size -= kBodyTrailerSize;
  slot.seq = *p.seq_no;
  slot.uid = r.uid;
  slot.seq_index = static_cast<uint32_t>(p.index);
  slot.runtime_service = r.service_type != SERVICE_MAP_ENTRY;
  if (slot.runtime_service)
    t->run_time_services[r.service_index].num_requests++;
  else
    t->service_counter[r.service_index]++;
  if (p.run->log.debug_level) {
    debug_log(p.run->log, 2, kFn, "Processing Thread[%d]:seq_no %lu url %s service_id %d\n",
              thread_id(p), *p.seq_no, r.url, slot.service_id);
    debug_log(p.run->log, 2, kFn, "Processing Thread[%d]:req_size = %lu", thread_id(p),
              slot.req_size);
    debug_log(p.run->log, 2, kFn, "Processing Thread[%d]:uid = %ld", thread_id(p),
              static_cast<long>(slot.uid));
    debug_log(p.run->log, 2, kFn, "Processing Thread[%d]:seq = %lu", thread_id(p), slot.seq);
  }
  t->t_msgcount++;
  reset_record(p);
  ++*p.seq_no;
  if (!after_accepted_record(*t->run, t, *p.seq_no, failure_of(p)) ||
      !ensure_record_slot(t, *p.seq_no, failure_of(p)))
    return false;
  if (p.run->options.commentry_req_count > 0 &&
      *p.seq_no % static_cast<uint64_t>(p.run->options.commentry_req_count) == 0)
    info_log(p.run->log, 1, "    ", "Processing Thread[%d]:Processed %'lu out of %'lu requests",
             thread_id(p), *p.seq_no, t->t_msgcount);
  return true;
}

bool end_record(FileParse &p) {
  if (p.run->log.debug_level)
    debug_log(p.run->log, 2, kFn, "Processing Thread[%d]:Request Body End", thread_id(p));
  if (!p.rec.ignore_request) check_record_at_end(p);
  if (!p.rec.ignore_request) return accept_record(p);
  ignore_record(p);
  return true;
}

}  // namespace

void ignore_record(FileParse &p) {
  p.thread->t_ignore_request++;
  p.thread->t_msgcount++;
  memset(&current_slot(p), 0, sizeof(SeqData));
  reset_record(p);
}

bool ensure_record_slot(ThreadArgs *thread, uint64_t seq_no, Failure *err) {
  uint64_t index = seq_no - thread->array_base;
  while (index >= thread->t_max_sda_size) {
    uint64_t old_size = thread->t_max_sda_size;
    uint64_t new_size = old_size + loader_grow_step(*thread->run, old_size);
    uint64_t bytes = new_size * sizeof(SeqData);
    SeqData *grown = static_cast<SeqData *>(realloc(thread->t_seq_data_arr, bytes));
    if (!grown)
      return out_of_memory(err, kFn, "Reallocing l_seq_data_arr", static_cast<int>(bytes));
    memset(grown + old_size, 0, (new_size - old_size) * sizeof(SeqData));
    thread->t_seq_data_arr = grown;
    thread->t_max_sda_size = new_size;
  }
  return true;
}

bool body_lines_only_counted(const FileParse &p) {
  const RecordState &r = p.rec;
  if (p.run->log.debug_level || r.read_state != kBodySection || r.first_time) return false;
  if (r.ignore_request) return true;
  if (p.run->options.do_parameterization && !(r.req_mod_flag & 1)) return false;
  return r.uid >= 0;
}

void count_body_bytes(FileParse &p, size_t bytes) {
  if (!p.rec.ignore_request) current_slot(p).req_size += bytes;
}

bool handle_body_line(FileParse &p, char *body, size_t body_len) {
  RecordState &r = p.rec;
  // Also for a record already rejected: the URL scanner still shows its path.
  if (!r.service_line_done && r.url_line_done) {
    get_service_name_from_url(p.run->log, r.url, r.service_name, kServiceNameSize);
    r.service_line_done = 1;
  }
  if (r.first_time && !choose_indexing_tag(p)) return false;
  if (body_len >= strlen(kEndLine) && memcmp(body, kEndLine, strlen(kEndLine)) == 0)
    return end_record(p);
  if (r.ignore_request) return true;
  measure_body_line(p, body_len);
  if (p.run->options.do_parameterization && !(r.req_mod_flag & 1)) {
    // The array holds the thread's records from array_base on.
    uint64_t slot_index = *p.seq_no - p.thread->array_base;
    extract_creation_timestamp(p.run->log, body, &slot_index, p.thread->t_seq_data_arr,
                               static_cast<int32_t>(body_len), &r.req_mod_flag);
  }
  if (r.uid < 0) search_customer_id(p, body);
  return true;
}
