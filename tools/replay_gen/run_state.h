// The run-wide state of vtu_replay_gen, in one place: what the command line
// and the configuration set, the tables the run builds, and its counters.
//
// Every stage takes the run it works on: the driver's, a dry run's, or a
// test's. A fresh run, test case or fuzz input is a fresh value, whose
// destructor releases what it owns, so there is no reset routine to keep in
// step with the fields. State a loader thread owns stays in its ThreadArgs
// until the merge.
#ifndef VT_REPLAY_GEN_RUN_STATE_H_
#define VT_REPLAY_GEN_RUN_STATE_H_

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "base/core/digest.h"
#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/service_index.h"
#include "tools/replay_gen/spill/run_sort.h"
#include "tools/replay_gen/spill/spill_records.h"

// Records the loader assumes per second when it estimates the run time.
constexpr int32_t messages_per_seconds = 10000;

// What a dry run is given of the package it plans: every user the index
// files would list, in creation order, each followed by its requests
// (vt_package preview profiles the package from them), then done, while the
// spill files are still there.
struct PlannedUsers {
  void *context = nullptr;
  void (*user)(void *context, int vvm_id, uint64_t user_id) = nullptr;
  void (*request)(void *context, const ReqNode &request) = nullptr;
  bool (*done)(void *context, Failure *err) = nullptr;
};

// Command-line flags (driver).
struct RunOptions {
  std::string config_path;           // -i
  int32_t commentry_req_count = 0;   // -c: progress mark interval, 0 = default
  uint64_t estimated_time = 0;       // seconds Step 2 is expected to take
  int32_t run_forcefully = 0;        // -f
  int32_t one_sort_algo = 0;         // -N
  int32_t do_parameterization = 0;   // -p
  int16_t g_num_thread = 0;          // -n, 0 = automatic
  int num_cpu = 0;                   // processors, when known beforehand; 0: the loader counts them
  int32_t svc_id_uses_svc_name = 1;  // 0 under -u: services are told apart by URL
  // A dry run reads the configuration and the logs and plans the users, and
  // writes nothing: no replay directory is created or removed, no error log
  // and no script generator input file is made (vt_package preview).
  int32_t dry_run = 0;
  const PlannedUsers *planned_users = nullptr;  // a dry run's, or none
};

// The configuration file's values.
struct RunConfig {
  int32_t current_line_num = 0;         // line being applied
  char config_file[kTextBufSize] = "";  // the file being read, as -i names it
  char replay_dir[kTextBufSize] = "";
  char scenario_name[kTextBufSize] = "";
  char script_name[kTextBufSize] = "";
  char host_name[kTextBufSize] = "127.0.0.1";
  char host_hdr[kTextBufSize] = "Host: 127.0.0.1";
  char input_dir[kTextBufSize] = "";
  char http_version[kHttpVersionSize] = "1.0";
  char script_type[kScriptTypeSize] = "C";
  char *http_header = nullptr;  // accumulated HTTP_* lines, owned
  int32_t http_header_len = 0;
  char *req_top_line = nullptr;  // accumulated top lines, owned
  int32_t req_top_line_len = 0;
  char *scenario_keyword = nullptr;  // accumulated scenario lines, owned
  int32_t scenario_keyword_len = 0;
  uint64_t start_time_stamp = 0;  // REPLAY_PERIOD bounds, seconds; 0 = open
  uint64_t end_time_stamp = 0;
  int32_t ignore_header = 0;
  uint64_t new_user_time = 1800000;        // session length, ms
  uint64_t g_msgcount_per_file = 20000;    // initial records per loader thread
  int64_t suite_command_time_limit = 600;  // seconds a suite command may run
  uint64_t memory_limit = 0;               // MEMORY_LIMIT, bytes; 0 = the default share
};

// The service table: configured services first, then those met in the logs.
struct ServiceTable {
  ServiceMap *service_map_ptr = nullptr;  // owned, with every entry's texts
  uint16_t total_services = 0;
  uint16_t max_services = 0;
  int32_t num_service_file = 0;  // services from SERVICE_NAME lines
  // Hashed index over the names and URLs: the functions that add entries keep
  // it up to date, loader threads only read it, renaming drops it.
  ServiceIndex service_index = {};
};

// The input files of Step 1, claimed one by one in Step 2.
struct InputFiles {
  InputFileInfo *seq_file_path = nullptr;  // owned, with every path
  int32_t max_seq_files = 0;               // entries allocated
  int32_t num_seq_files = 0;
  int32_t free_file_seq = 0;  // next file to claim (under the loader's lock)
  // The file range of INPUT_DIR's "start-end" part: its bounds as times and
  // as the names given, when a range was given.
  uint32_t start_timestamp = 0;
  uint32_t end_timestamp = 0;
  const char *start_file_ptr = nullptr;
  const char *end_file_ptr = nullptr;
};

// Every accepted request after the merge.
struct RecordTable {
  SeqData *seq_data_arr = nullptr;       // owned
  SeqData *seq_data_arr_copy = nullptr;  // owned, the merge sort's scratch
  // The earliest request's time, ms since the epoch: send time 0 of the
  // package, once Step 4 has made the times relative.
  uint64_t time_zero_ms = 0;
};

// The users of Step 4, in the order they were made; the index files release
// them one by one.
struct UserTable {
  UserNode *head = nullptr;  // owned, with every user's requests
  UserNode *tail = nullptr;
};

// The engine's workers.
struct WorkerTable {
  Vvm vvm_list[kMaxVvm] = {};
  int16_t num_vvm = 0;  // NUM_VVM, or the default from the CPU count
  int32_t last_vvm = -1;
};

// Run-wide counters, summed from the loader threads' own.
struct RunCounters {
  uint64_t g_msgcount = 0;
  uint64_t g_valid_msgcount = 0;
  uint64_t g_ignore_request = 0;
  uint64_t g_no_xacustid_messages = 0;
  uint64_t g_empty_xacustid_messages = 0;
  int64_t total_requests = 0;
  int64_t max_req_per_user = 0;
  // Rejected records by code, 101 first.
  uint64_t rejected_by_code[kNumRecordErrorCodes] = {};
};

// The memory budget, and the sorted runs of a run whose requests do not fit
// it: Step 2 spills its records in uid/time order, Step 3 merges them and
// spills them again in time order, Step 4 merges those and spills one row
// per request in user order for the index files.
struct SpillState {
  uint64_t budget = UINT64_MAX;  // bytes; none until chosen before Step 2
  // Set (by the loader threads, through atomic_ref) once the accepted
  // requests no longer fit the budget, and counted by them until then.
  int32_t spilling = 0;
  uint64_t accepted_reported = 0;
  uint64_t loader_share = 16;        // records a loader thread may hold then
  char dir[kTextBufSize + 32] = "";  // the private directory, once made
  uint64_t files_made = 0;
  uint64_t bytes_written = 0;  // added to through atomic_ref
  RunSort<LoadedRecord> by_uid = named_run_sort<LoadedRecord>("uid_order");
  RunSort<SessionRecord> by_time = named_run_sort<SessionRecord>("time_order");
  RunSort<IndexRow> rows = named_run_sort<IndexRow>("user_order");
  SpillFile *users = nullptr;  // UserEntry of every user, in creation order
  uint64_t num_users = 0;
  // Per loader thread, the service table index of each service in its list.
  std::vector<std::vector<int16_t>> service_remap;
  // Per input file, the seq of its first accepted request.
  std::vector<uint64_t> file_base;
  uint64_t earliest_time = 0;  // smallest time_stamp of the run
};

// The script generator's input file.
struct ScriptInput {
  char vtu_gen_script_file_name[256] = "";
  FILE *vtu_gen_script_fp = nullptr;  // not closed by a fresh value
};

// What the package's manifest tells besides the tables above, noted as the
// run goes: where the run's input came from, and every request and index
// file's digest and size as it was written.
struct ManifestNotes {
  std::string config_file;  // the -i argument
  std::string input_dir;    // the INPUT_DIR value, before Step 1 cuts it up
  uint8_t request_digest[kMaxVvm][kDigestSize] = {};  // each by its writer thread
  uint8_t index_digest[kMaxVvm][kDigestSize] = {};
  uint64_t index_size[kMaxVvm] = {};
  uint64_t requests[kMaxVvm] = {};  // request groups of each index file
};

// The replay directory this run made or found: its lock, held until the run
// ends, and under -f the old directory still to be removed.
struct ReplayDirState {
  int lock_fd = -1;              // closed by a fresh value
  bool removal_pending = false;  // -f: the old directory goes once the configuration is read
  bool link_pending = false;     // and it is a symbolic link, which alone goes
  std::string fs_path;           // replay_dir without trailing slashes
};

// What a dry run gathers where the run would print a warning, or stop or
// fail at its end (vt_package preview reports them).
struct DryRunNotes {
  std::vector<std::string> warnings;
  std::vector<std::string> problems;
};

struct RunState {
  RunOptions options;
  LogGates log;
  RunConfig config;
  ServiceTable services;
  InputFiles files;
  RecordTable records;
  UserTable users;
  WorkerTable workers;
  RunCounters counters;
  ScriptInput script_input;
  SpillState spill;
  ManifestNotes manifest;
  ReplayDirState replay_dir_state;
  DryRunNotes dry;
  // The stages of the list (driver/generate.h) that ran to their end, in order.
  std::vector<std::string> stages_done;

  RunState() = default;
  RunState(const RunState &) = delete;
  RunState &operator=(const RunState &) = delete;
  // Releases the tables, the input files and the replay directory's lock.
  ~RunState();
};

#endif  // VT_REPLAY_GEN_RUN_STATE_H_
