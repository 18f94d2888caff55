// State of the record parser while it reads one file, shared by the line
// handlers of record_lines.cc and record_body.cc.
#ifndef VT_REPLAY_GEN_LOADER_RECORD_STATE_H_
#define VT_REPLAY_GEN_LOADER_RECORD_STATE_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/loader/record_errors.h"
#include "tools/replay_gen/loader/service_cache.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/run_state.h"

constexpr size_t kServiceNameSize = 10017;
constexpr size_t kUrlSize = 10017;
constexpr size_t kSoapActionSize = 2048;
constexpr size_t kHeaderLineLimit = 10000;     // IGNORE_HEADER line, NUL included
constexpr size_t kBodyLeadIn = 14;             // "xml1=" and 9 bytes before the body
constexpr uint64_t kBodyTrailerSize = 11;      // bytes ending the last body line
constexpr uint64_t kSeqArrayGrowStep = 10000;  // records added when the array is full
constexpr const char *kEndLine = "*******";
constexpr const char *kMissingIndexSuffix = "_MissingIndex";

enum : char { kHeaderSection = 1, kBodySection = 2 };

// What the parser knows of the record under construction.
struct RecordState {
  char read_state;
  char time_stamp_line_done;
  char service_line_done;
  char url_line_done;
  int32_t ignore_request;  // 2: rejected on a header line, 1: at the end line
  int32_t request_body_first_line;
  int32_t first_time;
  const char *indexing_tag;  // null: "XACustId"
  int64_t uid;               // -1: not found yet
  int16_t req_mod_flag;
  int16_t service_index;
  char service_type;
  char service_name[kServiceNameSize];
  char url[kUrlSize];
  char soap_action[kSoapActionSize];
};

struct FileParse {
  const RunState *run;  // the thread's run, read only
  ThreadArgs *thread;
  const char *seq_file;
  FILE *fp;
  uint64_t *seq_no;
  int32_t index;
  uint64_t line_no;
  int64_t line_end_offset;  // file offset just past the line being handled
  ServiceCache services;    // pairs already classified by this thread
  RecordState rec;
};

inline SeqData &current_slot(FileParse &p) {
  return p.thread->t_seq_data_arr[*p.seq_no - p.thread->array_base];
}

// record_lines.cc: the header section.
void reset_record(FileParse &p);
void handle_time_line(FileParse &p, char *value);
void handle_soap_action_line(FileParse &p, char *value, size_t value_len, bool wf_header);
void handle_url_line(FileParse &p, char *line, size_t len);
// Prints nothing; counts and logs the error and skips the rest of the record.
void reject_on_header_line(FileParse &p, ErrorIndex error);

// record_body.cc: the body section and the end of a record. False, with the
// thread's failure, when an accepted record cannot be kept.
bool handle_body_line(FileParse &p, char *body, size_t body_len);
// True when a body line that does not end the record only counts: its bytes
// go to the body size (or nowhere when the record is rejected) and nothing
// else happens, as the one-time work of the body's first lines is done, the
// customer id (and with -p the creation timestamp) is found, and nothing is
// traced.
bool body_lines_only_counted(const FileParse &p);
// Adds the bytes of such lines, passed over without being handled.
void count_body_bytes(FileParse &p, size_t bytes);
// Makes room for the slot at *seq_no; false, with *err, when it cannot.
bool ensure_record_slot(ThreadArgs *thread, uint64_t seq_no, Failure *err);
// Counts the current record as ignored (its error line is written already)
// and clears its slot for the next record.
void ignore_record(FileParse &p);

#endif  // VT_REPLAY_GEN_LOADER_RECORD_STATE_H_
