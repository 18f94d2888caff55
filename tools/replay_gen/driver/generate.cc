// The run order of vtu_replay_gen: a straight list of stages, each given
// the run and returning its failure.
#include "tools/replay_gen/driver/generate.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/config/replay_dir.h"
#include "tools/replay_gen/date_time.h"
#include "tools/replay_gen/driver/driver.h"
#include "tools/replay_gen/loader/input_files.h"
#include "tools/replay_gen/loader/parallel_loader.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/memory_budget.h"
#include "tools/replay_gen/output/gen_input_file.h"
#include "tools/replay_gen/output/index_files.h"
#include "tools/replay_gen/output/manifest_file.h"
#include "tools/replay_gen/output/request_files.h"
#include "tools/replay_gen/output/scenario.h"
#include "tools/replay_gen/output/script_gen.h"
#include "tools/replay_gen/sequencing/sequence_order.h"
#include "tools/replay_gen/services/request_head.h"
#include "tools/replay_gen/services/service_map.h"
#include "tools/replay_gen/spill/spill_dir.h"
#include "tools/replay_gen/trace_names.h"

namespace {

int64_t now() {
  return static_cast<int64_t>(time(nullptr));
}

bool read_configuration(RunState &run, Failure *err) {
  // Under -f the old replay directory goes only once the configuration is
  // known to be whole and valid.
  return read_config_file_new(run, run.options.config_path.c_str(), err) &&
         validate_config_file_data(run, err) && complete_replay_dir(run, err);
}

bool take_sources_and_budget(RunState &run, Failure *) {
  note_manifest_sources(run, run.options.config_path.c_str());
  choose_memory_budget(run);
  return true;
}

bool run_step1(RunState &run, Failure *err) {
  int64_t t1 = now();
  info_log(run.log, 1, "",
           "Starting Step1 - Generate input file list based on INPUT_DIR keyword at %s\n",
           get_cur_date_time(nullptr));
  if (!gen_input_file_list(run, err)) return false;
  if (run.files.num_seq_files == 0)
    return fail(err, trace_name::kMain, "No request file found to process, Exiting.");
  show_step1_end_info(run, now() - t1);
  run.options.estimated_time = run.counters.g_msgcount / messages_per_seconds;
  return true;
}

bool run_step2(RunState &run, Failure *err) {
  int64_t s2 = now();
  show_start_step_info(
      run, s2, "Starting Step2 - Reading input data files and generate sequence data array");
  if (!load_input_data_files(run, err)) return false;
  print_log_file_info(run);
  if (run.counters.g_valid_msgcount == 0)
    return fail(err, trace_name::kMain, "No Valid request found to process, Exiting.");
  show_end_step_info(
      run, s2, now(),
      "Completed Step2 - Reading input data files and generate sequence data array.");
  return true;
}

bool run_step3(RunState &run, Failure *err) {
  int64_t s3 = now();
  show_start_step_info(run, s3, "Starting Step3 - Sorting of sequence data file");
  if (!sort_seq_array(run, run.counters.g_valid_msgcount, err)) return false;
  show_end_step_info(run, s3, now(), "Completed Step3 - Sorting of sequence data file");
  return true;
}

bool name_services(RunState &run, Failure *err) {
  return rename_service_names(run, err) && append_all_headers(run, err);
}

bool run_step4(RunState &run, Failure *err) {
  int64_t s4 = now();
  show_start_step_info(
      run, s4, "Starting Step4 - Generate requests to user mapping and create VVM request files");
  sort_seq_data_by_time(run, run.counters.g_valid_msgcount);
  if (!process_sequence_data_new(run, err) || !close_vvm_files(run, err)) return false;
  show_end_step_info(
      run, s4, now(),
      "Completed Step4 - Generate requests to user mapping and create VVM request files.");
  return true;
}

bool report_services(RunState &run, Failure *) {
  print_service_info(run);
  return true;
}

bool print_summary(RunState &run, Failure *) {
  free(run.records.seq_data_arr);
  run.records.seq_data_arr = nullptr;
  info_log(run.log, 1, "", "User information:");
  info_log(run.log, 1, "  ", "Total users = %'ld, total requests = %'ld, max req per user = %'ld",
           static_cast<long>(get_total_users(run)), static_cast<long>(run.counters.total_requests),
           static_cast<long>(run.counters.max_req_per_user));
  // The closing line is printed whatever the log gates say.
  console_printf(run.log, "\nProcessing done at %s\n\n", get_cur_date_time(nullptr));
  return true;
}

struct Stage {
  const char *name;
  bool (*run)(RunState &run, Failure *err);
  // A dry run runs it also after a later stage failed: it checks only what
  // the configuration names.
  bool checks_only_in_dry_run;
};

constexpr Stage kStages[] = {
    {"script generator input", create_file_for_vtu_gen_script, false},
    {"configuration", read_configuration, false},
    {"suite commands", require_suite_commands, true},
    {"memory budget", take_sources_and_budget, false},
    {"request files", init_vvm_data, false},
    {"Step 1", run_step1, false},
    {"Step 2", run_step2, false},
    {"Step 3", run_step3, false},
    {"service names and heads", name_services, false},
    {"Step 4", run_step4, false},
    {"service report", report_services, false},
    {"index files", write_vortan_index_file, false},
    {"spill directory", spill_dir_remove, false},
    {"scenario", create_scenario, true},
    {"script", create_script, true},
    {"manifest", write_package_manifest, false},
    {"summary", print_summary, false},
};
constexpr int kStageCount = sizeof kStages / sizeof kStages[0];

// A dry run's stop, as its problems: one for each line of the failure.
void note_stop(RunState &run, const Failure &f) {
  for (const FailureLine &line : f.lines) {
    std::string text = line.kind == FailureLine::kError ? line.fname + ":" + line.text : line.text;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty()) run.dry.problems.push_back("the run would stop: " + text);
  }
}

}  // namespace

int stage_count() {
  return kStageCount;
}

const char *stage_name(int index) {
  return index >= 0 && index < kStageCount ? kStages[index].name : nullptr;
}

bool stage_completed(const RunState &run, const char *name) {
  for (const std::string &done : run.stages_done)
    if (done == name) return true;
  return false;
}

int generate(RunState &run, Mode mode, Failure *err) {
  bool dry = mode == Mode::kDryRun;
  run.options.dry_run = dry;
  if (dry) run.log.quiet = true;
  run.stages_done.clear();
  int i = 0;
  for (; i < kStageCount; i++) {
    if (!kStages[i].run(run, err)) break;
    run.stages_done.push_back(kStages[i].name);
  }
  if (i == kStageCount) return 0;
  spill_dir_abandon(run);
  if (dry) {
    note_stop(run, *err);
    // Once the configuration is read, what it names is checked all the same.
    if (stage_completed(run, "configuration"))
      for (int k = i + 1; k < kStageCount; k++)
        if (kStages[k].checks_only_in_dry_run) kStages[k].run(run, err);
  }
  return err->status ? err->status : -1;
}
