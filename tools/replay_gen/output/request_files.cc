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
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_writer.h"
#include "tools/replay_gen/output/spilled_entries.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/sequencing/sequence_order.h"

namespace {

void show_progress(uint64_t done, uint64_t all) {
  // A negative interval, taken unsigned, is larger than any count.
  uint64_t every = static_cast<uint64_t>(static_cast<int64_t>(run.options.commentry_req_count));
  if (done > 0 && every != 0 && done % every == 0)
    info_log(run.log, 1, "  ", "Created %'lu out of %'lu requests", done, all);
}

struct FreeDeleter {
  void operator()(uint8_t *p) const { free(p); }
};

// The worker of every record, by position in seq_data_arr.
std::unique_ptr<uint8_t[], FreeDeleter> new_entry_worker_table(uint64_t n) {
  auto *table = static_cast<uint8_t *>(malloc(n ? n : 1));
  if (!table) {
    out_of_memory("process_sequence_data_new", "entry worker table", static_cast<long long>(n));
  }
  return std::unique_ptr<uint8_t[], FreeDeleter>(table);
}

void append_to_user_list(UserNode *user) {
  if (!run.users.head)
    run.users.head = user;
  else
    run.users.tail->next = user;
  run.users.tail = user;
}

}  // namespace

int checked_num_vvm(const char *fname) {
  if (run.workers.num_vvm < 1 || run.workers.num_vvm > kMaxVvm) {
    error_log(run.log, 1, fname, "Invalid number of workers %d: it must be between 1 and %d",
              run.workers.num_vvm, kMaxVvm);
    vt_exit(-1);
  }
  return run.workers.num_vvm;
}

void init_vvm_data() {
  if (run.log.debug_level) debug_log(run.log, 4, "init_vvm_data", "Method Called");
  int workers = checked_num_vvm("init_vvm_data");
  for (int w = 0; w < workers; w++) {
    run.workers.vvm_list[w].num_users = 0;
    run.workers.vvm_list[w].offset = 0;
    std::string path = std::string(run.config.replay_dir) + "/vt_req_" + std::to_string(w);
    // The replay directory is new and this run's: a file already there was
    // put there by someone else and is not written through.
    int fd = vtlb_create_new_file(path.c_str(), O_WRONLY, 0744);
    if (fd < 0) {
      perror("open");  // the system's own text, outside the gates
      vt_exit(-1);
    }
    run.workers.vvm_list[w].vt_req_file_fd = fd;
  }
}

void close_vvm_files() {
  for (int w = 0; w < run.workers.num_vvm && w < kMaxVvm; w++) {
    int fd = run.workers.vvm_list[w].vt_req_file_fd;
    run.workers.vvm_list[w].vt_req_file_fd = -1;
    if (fd >= 0 && close(fd) != 0) {
      error_log(run.log, 1, "close_vvm_files", "Error in writing request file %s/vt_req_%d: %s",
                run.config.replay_dir, w, strerror(errno));
      vt_exit(-1);
    }
  }
}

int get_vvm_id() {
  if (run.log.debug_level) debug_log(run.log, 4, "get_vvm_id", "Method Called");
  run.workers.last_vvm = (run.workers.last_vvm + 1) % checked_num_vvm("get_vvm_id");
  return run.workers.last_vvm;
}

UserNode *add_user_new(const SeqData &rec) {
  if (run.log.debug_level) {
    debug_log(run.log, 4, "add_user_new", "Method Called uid = %lu",
              static_cast<uint64_t>(rec.uid));
    debug_log(run.log, 2, "add_user_new", "Allocating memory for %s. size = %zu",
              "node memory allocation", sizeof(UserNode));
  }
  UserNode *user = static_cast<UserNode *>(calloc(1, sizeof(UserNode)));
  if (!user) {
    out_of_memory("add_user_new", "node memory allocation", static_cast<int>(sizeof(UserNode)));
  }
  user->vvm_id = static_cast<unsigned char>(get_vvm_id());
  user->user_id = static_cast<uint64_t>(rec.uid);
  append_to_user_list(user);
  add_request_new(user, rec);
  run.workers.vvm_list[user->vvm_id].num_users++;
  return user;
}

void plan_request_entries(uint8_t *entry_worker) {
  const char *fname = "process_sequence_data_new";
  update_timestamp_to_relative();
  uint64_t n = run.counters.g_valid_msgcount;
  uint64_t i = 0;
  for (; i < n; i++) {
    const SeqData &rec = run.records.seq_data_arr[i];
    uint64_t p = rec.parent_seq;
    if (run.log.debug_level) debug_log(run.log, 2, fname, "parent_seq = %lu", p);
    if (p >= n) {
      error_log(run.log, 1, fname, "Session key %lu of request %lu is not below %lu", p, i, n);
      vt_exit(-1);
    }
    UserNode *&slot = run.records.seq_data_arr[p].user_node;
    if (slot)
      add_request_new(slot, rec);
    else
      slot = add_user_new(rec);
    if (entry_worker) entry_worker[i] = slot->vvm_id;
    show_progress(i, n);
  }
  show_progress(i, n);
}

void process_sequence_data_new() {
  const char *fname = "process_sequence_data_new";
  if (run.log.debug_level) {
    debug_log(run.log, 2, fname, "Method called");
    debug_log(run.log, 2, fname, "g_msgcount = %lu", run.counters.g_msgcount);
  }
  uint64_t n = run.counters.g_valid_msgcount;
  if (run.spill.spilling) {
    walk_spilled_requests(true);
  } else {
    auto entry_worker = new_entry_worker_table(n);
    plan_request_entries(entry_worker.get());
    if (n) {
      int cpus = static_cast<int>(std::thread::hardware_concurrency());
      write_request_files(entry_worker.get(), n, request_writer_threads(cpus, run.workers.num_vvm),
                          default_writer_settings());
    }
  }
  info_log(run.log, 1, "",
           "Request count in Control file = %'lu, Processed requests = %'lu, Ignored requests = "
           "%'lu\n",
           run.counters.g_msgcount, run.counters.g_valid_msgcount, run.counters.g_ignore_request);
}
