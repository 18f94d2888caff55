#include "tools/replay_gen/output/spilled_index.h"

#include <algorithm>

#include "tools/replay_gen/run_state.h"

namespace {

// The merge reads with at most half the budget.
constexpr uint64_t kMergeShareDivisor = 2;
constexpr size_t kUserChunk = 4096;

}  // namespace

bool spilled_users_begin(RunState &run, SpilledUsers *u, Failure *err) {
  MergeShape shape = merge_shape(run.spill.budget / kMergeShareDivisor, sizeof(IndexRow));
  u->chunk.clear();
  u->chunk_first = 0;
  u->next_user = 0;
  return merge_all_runs(run, &u->rows, &run.spill.rows, shape, UserPlaceLess{}, err);
}

bool next_spilled_user(RunState &run, SpilledUsers *u, UserEntry *user, bool *more, Failure *err) {
  *more = u->next_user < run.spill.num_users;
  if (!*more) return true;
  if (u->next_user >= u->chunk_first + u->chunk.size()) {
    u->chunk_first = u->next_user;
    size_t k =
        static_cast<size_t>(std::min<uint64_t>(kUserChunk, run.spill.num_users - u->next_user));
    u->chunk.resize(k);
    if (!spill_file_read(run.spill.users, u->next_user * sizeof(UserEntry), u->chunk.data(),
                         k * sizeof(UserEntry), err))
      return false;
  }
  *user = u->chunk[static_cast<size_t>(u->next_user - u->chunk_first)];
  u->next_user++;
  return true;
}

bool next_spilled_row(SpilledUsers *u, ReqNode *row, bool *more, Failure *err) {
  const IndexRow *top = merge_top(u->rows);
  *more = top && top->user_no + 1 == u->next_user;
  if (!*more) return true;
  *row = ReqNode{top->time_stamp,         static_cast<off_t>(top->offset), top->size, top->page_id,
                 top->creation_ts_offset, top->creation_ts_size,           top->type};
  return merge_pop(&u->rows, err);
}

void spilled_users_end(RunState &run, SpilledUsers *u) {
  merge_end(&u->rows);
  u->chunk = {};
  run_sort_release(&run.spill.rows);
  spill_file_close(run.spill.users);
  run.spill.users = nullptr;
}
