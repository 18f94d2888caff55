#include "tools/replay_gen/run_state.h"

#include <stdlib.h>
#include <unistd.h>

namespace {

// Frees what the state's tables own, closes the input files and gives up
// the replay directory's lock. Other files and descriptors are left to the
// stages that opened them.
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
  for (int i = 0; i < s->files.num_seq_files; i++) {
    free(s->files.seq_file_path[i].input_file);
    if (s->files.seq_file_path[i].input_fp) fclose(s->files.seq_file_path[i].input_fp);
  }
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

RunState::~RunState() {
  release_tables(this);
}
