// Records shared by the stages of vtu_replay_gen: one request, one service,
// one loader thread, one input file, one user and its requests, one worker.
// The run-wide state that holds them is in run_state.h.
#ifndef VT_REPLAY_GEN_RECORDS_H_
#define VT_REPLAY_GEN_RECORDS_H_

#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#include <atomic>

#include "tools/replay_gen/spill/side_job.h"

// Sizes of the fixed text buffers of the run.
constexpr int kTextBufSize = 10000;     // configuration paths and names
constexpr int kHttpVersionSize = 10;    // "1.0", "1.1"
constexpr int kScriptTypeSize = 64;     // "C" or "Legacy"
constexpr int kMethodTypeSize = 10;     // HTTP method, at most 9 characters
constexpr int kTagSize = 256;           // indexing tag and name prefix
constexpr int kLineBufSize = 10485761;  // loader line buffer: 10 MiB + NUL
constexpr int kMaxVvm = 256;            // entries of vvm_list
// Longest SUITE_COMMAND_TIME_LIMIT, in seconds: a week.
constexpr int64_t kMaxSuiteCommandTimeLimit = 7 * 24 * 3600;

struct UserNode;

// One accepted request. The 8-byte fields come first so that the record
// carries no padding but its tail (80 bytes).
struct SeqData {
  uint64_t time_stamp;          // ms since the epoch; relative from Step 4 on
  int64_t uid;                  // customer id, 0 when none
  uint64_t seq;                 // position in the thread array, later in seq_data_arr
  uint64_t parent_seq;          // seq of the session's first request
  off_t req_offset;             // first body byte in the input file
  uint64_t req_size;            // body bytes from req_offset
  UserNode *user_node;          // session slot during Step 4
  FILE *req_file_fp;            // input stream the body is copied from
  uint32_t seq_index;           // position of the input file in seq_file_path
  uint32_t creation_ts_offset;  // from the first body byte; 0 = none
  int16_t service_id;           // index into service_map_ptr (or the thread's list)
  int16_t creation_ts_size;
  char type;             // '1' when a creation timestamp was found
  char runtime_service;  // 1 when service_id indexes the thread's list
};

// One service of the service table.
struct ServiceMap {
  char *service_name;
  char *all_headers;
  int32_t all_headers_len;
  char method_type[kMethodTypeSize];
  char *url;
  int32_t url_len;
  char *service_header;
  int32_t service_header_len;
  char *soap_action;
  uint64_t num_requests;
  char indexing_tag[kTagSize];
  char sname_prefix[kTagSize];
};

// A service a loader thread met in the logs that the service table lacks.
struct RunTimeServiceInfo {
  char *url;
  char *service_name;
  char *soap_action;
  uint64_t num_requests;
  int32_t first_file_seq;  // the file in which the thread met it first
};

struct ServiceIndex;

// Codes of rejected records: 101 .. 100 + kNumRecordErrorCodes.
constexpr int kNumRecordErrorCodes = 12;

struct RunState;
struct Failure;

// One loader thread's state.
struct ThreadArgs {
  RunState *run;            // read only, but for the thread's own files and counts
  Failure *failure;         // what ended the thread early
  Failure *spill_failure;   // what ended its side job early
  std::atomic<bool> *stop;  // set once a thread failed: the others stop too
  SeqData *t_seq_data_arr;
  uint64_t t_max_sda_size;
  // The thread's accepted records before this one went to spill files;
  // t_seq_data_arr holds those from it on. Once the run spills, a full array
  // goes to the thread's side job, to be sorted and written from spill_arr
  // (spill_count records), while the thread fills the other.
  uint64_t array_base;
  SeqData *spill_arr;
  uint64_t spill_cap;
  uint64_t spill_count;
  SideJob side_job;
  int16_t thread_id;
  int32_t cur_file_seq;  // index of the file being read
  uint64_t t_msgcount;
  uint64_t t_valid_msgcount;
  uint64_t t_invalid_request;
  uint64_t t_ignore_request;
  uint64_t t_no_xacustid_messages;
  uint64_t t_empty_xacustid_messages;
  RunTimeServiceInfo *run_time_services;
  int32_t max_runtime_service;
  int32_t total_runtime_service;
  ServiceIndex *run_time_index;  // hashed index over run_time_services, or null
  char buf_for_fgets[kLineBufSize];
  uint64_t *service_counter;
  FILE *error_file_fp;
  uint64_t rejected_by_code[kNumRecordErrorCodes];  // 101 first
};

// One input log file.
struct InputFileInfo {
  char *input_file;
  int32_t msgcount;
  // Set by the loader thread that read the file: its accepted records are
  // num_accepted consecutive records of that thread's array.
  int16_t read_by_thread;
  uint64_t num_accepted;
  // That thread's count of accepted records when it began the file, and the
  // file's stream, from which bodies are copied.
  uint64_t first_local_seq;
  FILE *input_fp;
};

struct ReqNode;

// One simulated user (a session). Request counts are 32-bit so that a user
// with more than 65535 requests stays whole.
struct UserNode {
  unsigned char vvm_id;
  uint64_t user_id;
  uint32_t num_req;
  uint32_t max_requests;
  UserNode *next;
  ReqNode *req_node;
};

// One request of a user as written to a request file (40 bytes, widest
// fields first).
struct ReqNode {
  uint64_t time_stamp;
  off_t offset;
  uint64_t size;
  int32_t page_id;
  uint32_t creation_ts_offset;
  int16_t creation_ts_size;
  char type;
};

// One engine worker's output.
struct Vvm {
  int vt_req_file_fd;
  int32_t num_users;
  off_t offset;
};

#endif  // VT_REPLAY_GEN_RECORDS_H_
