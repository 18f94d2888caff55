#include "tools/replay_gen/run_state.h"

#include <stdlib.h>
#include <unistd.h>

#include <utility>

RunState run;

namespace {

// Frees what the state's tables own, and gives up the replay directory's
// lock. Other files and descriptors are left to the stages that opened them.
void release_tables(RunState *s) {
  if (s->replay_dir_state.lock_fd >= 0) close(s->replay_dir_state.lock_fd);
  free(s->config.http_header);
  free(s->config.req_top_line);
  free(s->config.scenario_keyword);
  for (int i = 0; i < s->services.total_services; i++) {
    ServiceMap &e = s->services.service_map_ptr[i];
    free(e.service_name);
    free(e.all_headers);
    free(e.url);
    free(e.service_header);
    free(e.soap_action);
  }
  free(s->services.service_map_ptr);
  service_index_free(&s->services.service_index);
  for (int i = 0; i < s->files.num_seq_files; i++) free(s->files.seq_file_path[i].input_file);
  free(s->files.seq_file_path);
  free(s->records.seq_data_arr);
  free(s->records.seq_data_arr_copy);
  run_sort_release(&s->spill.by_uid);
  run_sort_release(&s->spill.by_time);
  run_sort_release(&s->spill.rows);
  spill_file_close(s->spill.users);
  s->spill.users = nullptr;
  for (UserNode *next; s->users.head; s->users.head = next) {
    next = s->users.head->next;
    free(s->users.head->req_node);
    free(s->users.head);
  }
}

}  // namespace

RunState &RunState::operator=(RunState &&other) noexcept {
  if (this == &other) return *this;
  release_tables(this);
  options = std::exchange(other.options, {});
  log = std::exchange(other.log, {});
  config = std::exchange(other.config, {});
  services = std::exchange(other.services, {});
  files = std::exchange(other.files, {});
  records = std::exchange(other.records, {});
  users = std::exchange(other.users, {});
  workers = std::exchange(other.workers, {});
  counters = std::exchange(other.counters, {});
  script_input = std::exchange(other.script_input, {});
  spill = std::exchange(other.spill, {});
  manifest = std::exchange(other.manifest, {});
  replay_dir_state = std::exchange(other.replay_dir_state, {});
  return *this;
}

RunState::~RunState() {
  release_tables(this);
}
