#include "tools/replay_gen/output/request_files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>

#include "base/core/safe_file.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_writer.h"
#include "tools/replay_gen/output/spilled_entries.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/sequencing/sequence_order.h"
#include "tools/replay_gen/trace_names.h"

namespace {

struct FreeDeleter {
  void operator()(uint8_t *p) const { free(p); }
};

void show_progress(const RunState &run, uint64_t done, uint64_t all) {
  // A negative interval, taken unsigned, is larger than any count.
  uint64_t every = static_cast<uint64_t>(static_cast<int64_t>(run.options.commentry_req_count));
  if (done > 0 && every != 0 && done % every == 0)
    info_log(run.log, 1, "  ", "Created %'lu out of %'lu requests", done, all);
}

void append_to_user_list(RunState &run, UserNode *user) {
  if (!run.users.head)
    run.users.head = user;
  else
    run.users.tail->next = user;
  run.users.tail = user;
}

}  // namespace

bool checked_num_vvm(const RunState &run, const char *fname, int *workers, Failure *err) {
  *workers = run.workers.num_vvm;
  if (*workers >= 1 && *workers <= kMaxVvm) return true;
  return fail(err, fname, "Invalid number of workers %d: it must be between 1 and %d",
              run.workers.num_vvm, kMaxVvm);
}

bool init_vvm_data(RunState &run, Failure *err) {
  if (run.log.debug_level) debug_log(run.log, 4, "init_vvm_data", "Method Called");
  int workers;
  if (!checked_num_vvm(run, "init_vvm_data", &workers, err)) return false;
  for (int w = 0; w < workers; w++) {
    Vvm &vvm = run.workers.vvm_list[w];
    vvm.num_users = 0;
    vvm.offset = 0;
    vvm.vt_req_file_fd = -1;
    if (run.options.dry_run) continue;
    std::string path = std::string(run.config.replay_dir) + "/vt_req_" + std::to_string(w);
    // The replay directory is new and this run's: a file already there was
    // put there by someone else and is not written through.
    int fd = vtlb_create_new_file(path.c_str(), O_WRONLY, 0744);
    // The system's own text, outside the gates.
    if (fd < 0) return fail_text(err, false, std::string("open: ") + strerror(errno) + "\n");
    vvm.vt_req_file_fd = fd;
  }
  return true;
}

bool close_vvm_files(RunState &run, Failure *err) {
  bool ok = true;
  for (int w = 0; w < run.workers.num_vvm && w < kMaxVvm; w++) {
    int fd = run.workers.vvm_list[w].vt_req_file_fd;
    run.workers.vvm_list[w].vt_req_file_fd = -1;
    if (fd >= 0 && close(fd) != 0 && ok)
      ok = fail(err, "close_vvm_files", "Error in writing request file %s/vt_req_%d: %s",
                run.config.replay_dir, w, strerror(errno));
  }
  return ok;
}

int get_vvm_id(RunState &run) {
  if (run.log.debug_level) debug_log(run.log, 4, "get_vvm_id", "Method Called");
  // init_vvm_data has checked the count.
  run.workers.last_vvm = (run.workers.last_vvm + 1) % run.workers.num_vvm;
  return run.workers.last_vvm;
}

bool add_user_new(RunState &run, const SeqData &rec, UserNode **made, Failure *err) {
  if (run.log.debug_level) {
    debug_log(run.log, 4, trace_name::kAddUser, "Method Called uid = %lu",
              static_cast<uint64_t>(rec.uid));
    debug_log(run.log, 2, trace_name::kAddUser, "Allocating memory for %s. size = %zu",
              "node memory allocation", sizeof(UserNode));
  }
  UserNode *user = static_cast<UserNode *>(calloc(1, sizeof(UserNode)));
  if (!user)
    return out_of_memory(err, trace_name::kAddUser, "node memory allocation",
                         static_cast<int>(sizeof(UserNode)));
  user->vvm_id = static_cast<unsigned char>(get_vvm_id(run));
  user->user_id = static_cast<uint64_t>(rec.uid);
  append_to_user_list(run, user);
  if (!add_request_new(run, user, rec, err)) return false;
  run.workers.vvm_list[user->vvm_id].num_users++;
  *made = user;
  return true;
}

bool plan_request_entries(RunState &run, uint8_t *entry_worker, Failure *err) {
  const char *fname = trace_name::kProcessSequenceData;
  update_timestamp_to_relative(run);
  uint64_t n = run.counters.g_valid_msgcount;
  uint64_t i = 0;
  for (; i < n; i++) {
    const SeqData &rec = run.records.seq_data_arr[i];
    uint64_t p = rec.parent_seq;
    if (run.log.debug_level) debug_log(run.log, 2, fname, "parent_seq = %lu", p);
    if (p >= n) return fail(err, fname, "Session key %lu of request %lu is not below %lu", p, i, n);
    UserNode *&slot = run.records.seq_data_arr[p].user_node;
    bool ok = slot ? add_request_new(run, slot, rec, err) : add_user_new(run, rec, &slot, err);
    if (!ok) return false;
    if (entry_worker) entry_worker[i] = slot->vvm_id;
    show_progress(run, i, n);
  }
  show_progress(run, i, n);
  return true;
}

bool process_sequence_data_new(RunState &run, Failure *err) {
  const char *fname = trace_name::kProcessSequenceData;
  if (run.log.debug_level) {
    debug_log(run.log, 2, fname, "Method called");
    debug_log(run.log, 2, fname, "g_msgcount = %lu", run.counters.g_msgcount);
  }
  uint64_t n = run.counters.g_valid_msgcount;
  bool write = !run.options.dry_run;
  if (run.spill.spilling) {
    if (!walk_spilled_requests(run, write, err)) return false;
  } else if (!write) {
    if (!plan_request_entries(run, nullptr, err)) return false;
  } else {
    // The worker of every record, by position in seq_data_arr.
    std::unique_ptr<uint8_t, FreeDeleter> entry_worker(static_cast<uint8_t *>(malloc(n ? n : 1)));
    if (!entry_worker)
      return out_of_memory(err, fname, "entry worker table", static_cast<long long>(n));
    if (!plan_request_entries(run, entry_worker.get(), err)) return false;
    if (n) {
      int cpus = static_cast<int>(std::thread::hardware_concurrency());
      if (!write_request_files(run, entry_worker.get(), n,
                               request_writer_threads(cpus, run.workers.num_vvm),
                               default_writer_settings(), err))
        return false;
    }
  }
  info_log(run.log, 1, "",
           "Request count in Control file = %'lu, Processed requests = %'lu, Ignored requests = "
           "%'lu\n",
           run.counters.g_msgcount, run.counters.g_valid_msgcount, run.counters.g_ignore_request);
  return true;
}
