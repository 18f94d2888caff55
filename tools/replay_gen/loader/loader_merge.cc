#include "tools/replay_gen/loader/loader_merge.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "tools/replay_gen/loader/record_spill.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/services/runtime_services.h"

namespace {

constexpr const char *kFn = "load_input_data_files";

bool merge_counters_and_services(RunState &run, ThreadArgs *args, int num_threads,
                                 int16_t num_predefined_services, Failure *err) {
  if (!add_runtime_services_in_file_order(run, args, num_threads, err)) return false;
  RunCounters &c = run.counters;
  for (int i = 0; i < num_threads; i++) {
    ThreadArgs &t = args[i];
    c.g_msgcount += t.t_msgcount;
    c.g_valid_msgcount += t.t_valid_msgcount;
    c.g_ignore_request += t.t_ignore_request;
    c.g_no_xacustid_messages += t.t_no_xacustid_messages;
    c.g_empty_xacustid_messages += t.t_empty_xacustid_messages;
    for (int code = 0; code < kNumRecordErrorCodes; code++)
      c.rejected_by_code[code] += t.rejected_by_code[code];
    if (!update_service_map_ptr(run, &t, num_predefined_services, err)) return false;
    info_log(run.log, 1, "  ", "Processing Thread[%d] Completed\n", i);
    if (run.log.debug_level)
      debug_log(run.log, 2, kFn,
                "Processing Thread[%d] Completed\n, valid_msg = %lu, invalid_request = "
                "%luignore_request = %lu, no_xacustid_messages = %lu, empty_xacustid_messages = "
                "%lu",
                i, t.t_valid_msgcount, t.t_invalid_request, t.t_ignore_request,
                t.t_no_xacustid_messages, t.t_empty_xacustid_messages);
  }
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "Number of services after updating from each thread= %hd",
              static_cast<int16_t>(run.services.num_service_file));
  return true;
}

// The records go to seq_data_arr in file order, each file's in the order of
// its lines, whichever thread read the file: a thread's array holds the
// runs of the files it read, in the order it claimed them, which is list
// order. Thread 0's array becomes seq_data_arr, grown to the total; its runs
// move up to their places, the last first (a run never moves down, as every
// run before it in its array comes before it in file order too); then the
// other threads' runs fill the gaps, each array freed once copied, so the
// records are never held twice over.
bool merge_records(RunState &run, ThreadArgs *args, int num_threads, Failure *err) {
  for (int i = 0; i < num_threads; i++) {
    ThreadArgs &t = args[i];
    if (!remap_runtime_service_ids(run, &t, t.t_seq_data_arr, t.t_valid_msgcount, err))
      return false;
  }
  uint64_t total = run.counters.g_valid_msgcount;
  size_t bytes = total * sizeof(SeqData);
  run.records.seq_data_arr = nullptr;
  if (total == 0) return true;
  SeqData *all = static_cast<SeqData *>(realloc(args[0].t_seq_data_arr, bytes));
  if (!all) return out_of_memory(err, kFn, "seq_data_arr", static_cast<int>(bytes));
  args[0].t_seq_data_arr = nullptr;
  run.records.seq_data_arr = all;
  const InputFileInfo *files = run.files.seq_file_path;
  uint64_t place = total, from = args[0].t_valid_msgcount;
  for (int32_t f = run.files.num_seq_files - 1; f >= 0; f--) {
    uint64_t count = files[f].num_accepted;
    place -= count;
    if (files[f].read_by_thread != 0) continue;
    from -= count;
    if (from != place) memmove(all + place, all + from, count * sizeof(SeqData));
  }
  // Records of each thread copied so far; thread 0's are in place.
  auto *copied = static_cast<uint64_t *>(calloc(num_threads, sizeof(uint64_t)));
  if (!copied)
    return out_of_memory(err, kFn, "records copied per thread",
                         static_cast<long long>(num_threads * sizeof(uint64_t)));
  place = 0;
  for (int32_t f = 0; f < run.files.num_seq_files; f++) {
    uint64_t count = files[f].num_accepted;
    ThreadArgs &t = args[files[f].read_by_thread];
    if (files[f].read_by_thread != 0 && count) {
      memcpy(all + place, t.t_seq_data_arr + copied[t.thread_id], count * sizeof(SeqData));
      copied[t.thread_id] += count;
      if (copied[t.thread_id] == t.t_valid_msgcount) {
        free(t.t_seq_data_arr);
        t.t_seq_data_arr = nullptr;
      }
    }
    place += count;
  }
  free(copied);
  for (uint64_t q = 0; q < total; q++) all[q].seq = q;
  return true;
}

// The merge of a run that spills: the records the threads still hold become
// runs of their own; the services of the threads' lists get their table
// indexes, which Step 3 applies as it reads the records back; and every
// input file gets the seq of its first record, which follows from the
// counts alone.
bool merge_spilled_records(RunState &run, ThreadArgs *args, int num_threads, Failure *err) {
  run.spill.service_remap.assign(static_cast<size_t>(num_threads), {});
  for (int i = 0; i < num_threads; i++) {
    ThreadArgs &t = args[i];
    if (!spill_thread_records(run, &t, t.t_valid_msgcount, err) || !finish_thread_spills(&t, err) ||
        !runtime_service_ids(run, &t, &run.spill.service_remap[static_cast<size_t>(i)], err))
      return false;
    free(t.t_seq_data_arr);
    t.t_seq_data_arr = nullptr;
  }
  run.spill.file_base.assign(static_cast<size_t>(run.files.num_seq_files), 0);
  uint64_t base = 0;
  for (int32_t f = 0; f < run.files.num_seq_files; f++) {
    run.spill.file_base[static_cast<size_t>(f)] = base;
    base += run.files.seq_file_path[f].num_accepted;
  }
  run.records.seq_data_arr = nullptr;
  return true;
}

// The service id of every record in seq order, for the debug lines of
// level 4, when the records went to runs in uid/time order: each run is read
// once and every id written at its seq's place in a file of its own.
bool print_spilled_service_ids(RunState &run, SpillFile *ids, Failure *err) {
  constexpr size_t kChunk = 4096;
  std::vector<LoadedRecord> recs(kChunk);
  for (const SpillRun &r : run.spill.by_uid.runs) {
    for (uint64_t done = 0; done < r.count;) {
      size_t k = static_cast<size_t>(std::min<uint64_t>(kChunk, r.count - done));
      if (!spill_file_read(r.file, r.offset + done * sizeof(LoadedRecord), recs.data(),
                           k * sizeof(LoadedRecord), err))
        return false;
      for (size_t i = 0; i < k; i++) {
        const LoadedRecord &l = recs[i];
        int16_t id = l.runtime_service == 1
                         ? run.spill.service_remap[static_cast<size_t>(l.thread_id)]
                                                  [static_cast<size_t>(l.service_id)]
                         : l.service_id;
        uint64_t seq = run.spill.file_base[l.seq_index] + l.place;
        if (!spill_file_write(ids, seq * sizeof id, &id, sizeof id, err)) return false;
      }
      done += k;
    }
  }
  std::vector<int16_t> chunk(kChunk);
  uint64_t n = run.counters.g_valid_msgcount;
  for (uint64_t seq = 0; seq < n;) {
    size_t k = static_cast<size_t>(std::min<uint64_t>(kChunk, n - seq));
    if (!spill_file_read(ids, seq * sizeof(int16_t), chunk.data(), k * sizeof(int16_t), err))
      return false;
    for (size_t i = 0; i < k; i++)
      debug_log(run.log, 4, kFn, "------------seq_data_arr[seq_no].service_id = %d\n", chunk[i]);
    seq += k;
  }
  return true;
}

}  // namespace

bool merge_loader_threads(RunState &run, ThreadArgs *args, int num_threads,
                          int16_t num_predefined_services, Failure *err) {
  uint64_t accepted = 0;
  for (int i = 0; i < num_threads; i++) accepted += args[i].t_valid_msgcount;
  bool spills;
  if (!run_spills(run, accepted, &spills, err) ||
      !merge_counters_and_services(run, args, num_threads, num_predefined_services, err))
    return false;
  return spills ? merge_spilled_records(run, args, num_threads, err)
                : merge_records(run, args, num_threads, err);
}

void release_loader_threads(ThreadArgs *args, int num_threads) {
  for (int i = 0; i < num_threads; i++) {
    ThreadArgs &t = args[i];
    Failure ignored;
    finish_thread_spills(&t, &ignored);
    free(t.t_seq_data_arr);
    t.t_seq_data_arr = nullptr;
    free_runtime_services(&t);
    free(t.service_counter);
    t.service_counter = nullptr;
    if (t.error_file_fp) fclose(t.error_file_fp);
    t.error_file_fp = nullptr;
  }
}

bool print_loader_summary(RunState &run, Failure *err) {
  const RunCounters &c = run.counters;
  const char *fmt =
      "Summary: Total request processed = %'lu, Valid request = %'lu, Ignored = %'lu, Missing "
      "custid = %'lu (No custid = %'lu, Empty custid = %'lu)";
  char line[512];
  snprintf(line, sizeof line, fmt, c.g_msgcount, c.g_valid_msgcount, c.g_ignore_request,
           c.g_no_xacustid_messages, c.g_no_xacustid_messages - c.g_empty_xacustid_messages,
           c.g_empty_xacustid_messages);
  info_log(run.log, 1, "  ", "%s\n", line);
  if (!run.log.debug_level) return true;
  debug_log(run.log, 1, kFn, "%s", line);
  if (run.spill.spilling && run.log.debug_level >= 4) {
    SpillFile *ids = spill_file_create(run, "service_ids", err);
    bool ok = ids && print_spilled_service_ids(run, ids, err);
    spill_file_close(ids);
    if (!ok) return false;
  }
  for (uint64_t i = 0; run.records.seq_data_arr && i < c.g_valid_msgcount; i++)
    debug_log(run.log, 4, kFn, "------------seq_data_arr[seq_no].service_id = %d\n",
              run.records.seq_data_arr[i].service_id);
  return true;
}
