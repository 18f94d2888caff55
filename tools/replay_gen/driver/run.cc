// The run order of vtu_replay_gen: a straight list of stages.
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/date_time.h"
#include "tools/replay_gen/driver/driver.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/interrupt.h"
#include "tools/replay_gen/loader/input_files.h"
#include "tools/replay_gen/loader/input_open_limit.h"
#include "tools/replay_gen/loader/parallel_loader.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/memory_budget.h"
#include "tools/replay_gen/output/gen_input_file.h"
#include "tools/replay_gen/output/index_files.h"
#include "tools/replay_gen/output/manifest_file.h"
#include "tools/replay_gen/output/request_files.h"
#include "tools/replay_gen/output/scenario.h"
#include "tools/replay_gen/output/script_gen.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/sequencing/sequence_order.h"
#include "tools/replay_gen/services/request_head.h"
#include "tools/replay_gen/services/service_map.h"
#include "tools/replay_gen/spill/spill_dir.h"

namespace {

int64_t now() {
  return static_cast<int64_t>(time(nullptr));
}

void run_step1() {
  int64_t t1 = now();
  info_log(1, "", "Starting Step1 - Generate input file list based on INPUT_DIR keyword at %s\n",
           get_cur_date_time(nullptr));
  gen_input_file_list();
  if (run.files.num_seq_files == 0) {
    error_log(1, "main", "No request file found to process, Exiting.");
    vt_exit(-1);
  }
  show_step1_end_info(now() - t1);
}

void run_step2() {
  int64_t s2 = now();
  show_start_step_info(
      s2, "Starting Step2 - Reading input data files and generate sequence data array");
  load_input_data_files();
  print_log_file_info();
  if (run.counters.g_valid_msgcount == 0) {
    error_log(1, "main", "No Valid request found to process, Exiting.");
    vt_exit(-1);
  }
  show_end_step_info(
      s2, now(), "Completed Step2 - Reading input data files and generate sequence data array.");
}

void run_step3() {
  int64_t s3 = now();
  show_start_step_info(s3, "Starting Step3 - Sorting of sequence data file");
  sort_seq_array(run.counters.g_valid_msgcount);
  show_end_step_info(s3, now(), "Completed Step3 - Sorting of sequence data file");
}

void run_step4() {
  int64_t s4 = now();
  show_start_step_info(
      s4, "Starting Step4 - Generate requests to user mapping and create VVM request files");
  sort_seq_data_by_time(run.counters.g_valid_msgcount);
  process_sequence_data_new();
  close_vvm_files();
  show_end_step_info(
      s4, now(),
      "Completed Step4 - Generate requests to user mapping and create VVM request files.");
}

void print_summary() {
  info_log(1, "", "User information:");
  info_log(1, "  ", "Total users = %'ld, total requests = %'ld, max req per user = %'ld",
           static_cast<long>(get_total_users()), static_cast<long>(run.counters.total_requests),
           static_cast<long>(run.counters.max_req_per_user));
  // The closing line is printed whatever the log gates say.
  fprintf(stdout, "\nProcessing done at %s\n\n", get_cur_date_time(nullptr));
}

}  // namespace

int vtu_replay_gen_main(int argc, char **argv) {
  static char file_name[kConfigNameSize];
  info_log(1, "", "Starting replay file generation at %s. It may take time. Please wait ...",
           get_cur_date_time(nullptr));
  int i_flag = parse_options(argc, argv, file_name);
  if (run.options.commentry_req_count == 0)
    run.options.commentry_req_count = messages_per_seconds * 5 * 2;
  // Too few descriptors would fail the CPU count and the replay directory's
  // lock with misleading messages.
  require_open_file_room("main");
  if (run.workers.num_vvm == 0) set_default_num_vvm();
  if (i_flag == 0) {
    error_log(1, "main", "Config file must be given.");
    print_usage(argv[0]);
  }
  setlocale(LC_ALL, "en_US");
  install_interrupt_handlers();
  create_file_for_vtu_gen_script();
  read_config_file_new(file_name);
  validate_config_file_data();
  require_suite_commands();
  note_manifest_sources(file_name);
  choose_memory_budget();
  init_vvm_data();

  run_step1();
  run.options.estimated_time = run.counters.g_msgcount / messages_per_seconds;
  run_step2();
  run_step3();
  rename_service_names();
  append_all_headers();
  run_step4();

  print_service_info();
  write_vortan_index_file();
  spill_dir_remove();
  create_scenario();
  create_script();
  write_package_manifest();
  free(run.records.seq_data_arr);
  run.records.seq_data_arr = nullptr;
  print_summary();
  return 0;
}
