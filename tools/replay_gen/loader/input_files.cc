#include "tools/replay_gen/loader/input_files.h"

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/loader/input_filters.h"
#include "tools/replay_gen/loader/input_open_limit.h"
#include "tools/replay_gen/loader/input_paths.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

namespace {

constexpr char kFn[] = "gen_input_file_list";
constexpr int kValueOffset = 10;  // after "INPUT_DIR" and its separator
constexpr int kMaxNames = 100;    // names used from a "," list

// The three parts of the INPUT_DIR value; a part is null when absent.
struct InputSpec {
  char *base_dir;
  char *date_part;
  char *file_part;
};

// The date directories, viewed in input_dir or in the base directory listing,
// which goes with them (also when a later directory ends the run early).
struct DateDirs {
  std::vector<const char *> names;
  struct dirent **listing = nullptr;
  int listing_size = 0;
  ~DateDirs() {
    for (int i = 0; i < listing_size; i++) free(listing[i]);
    free(listing);
  }
};

enum class FileForm { kAll, kRange, kList };

struct FileSpec {
  FileForm form = FileForm::kAll;
  char *names[kMaxNames];
  int num_names = 0;
};

// Cuts the value at the first "|" and the next "|" after it. A part with
// nothing after its "|" counts as absent.
InputSpec split_input_dir() {
  InputSpec spec = {run.config.input_dir + strnlen(run.config.input_dir, kValueOffset), nullptr,
                    nullptr};
  char *bar = strchr(spec.base_dir, '|');
  if (bar) *bar = '\0';
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "Method called. base_dir = %s", spec.base_dir);
  if (!bar) return spec;
  if (run.log.debug_level) debug_log(run.log, 2, kFn, "ptr = %s", bar + 1);
  if (bar[1] != '\0') spec.date_part = bar + 1;
  bar = strchr(bar + 1, '|');
  if (!bar) return spec;
  *bar = '\0';
  if (bar[1] != '\0') spec.file_part = bar + 1;
  return spec;
}

int split_names(char *part, char *names[]) {
  int n = get_tokens_local(part, names, ",", kMaxNames);
  if (n > kMaxNames) {
    // Dropping the names past the limit would lose their requests silently.
    error_log(run.log, 1, kFn,
              "INPUT_DIR list holds more than %d names; list at most %d or use a range", kMaxNames,
              kMaxNames);
    vt_exit(-1);
  }
  if (run.log.debug_level) debug_log(run.log, 2, kFn, "num_tokens = %d", n);
  return n;
}

void check_base_dir(const char *base_dir) {
  DIR *dir = opendir(base_dir);
  if (!dir) {
    error_log(run.log, 1, kFn, "Unable to open based dir %s for reading ", base_dir);
    vt_exit(-1);
  }
  closedir(dir);
}

void list_date_dirs(const char *base_dir, int (*filter)(const struct dirent *), DateDirs *dirs) {
  int n = scandir(base_dir, &dirs->listing, filter, nullptr);
  if (run.log.debug_level) debug_log(run.log, 2, kFn, "n = %d", n);
  if (n <= 0) {
    free(dirs->listing);
    dirs->listing = nullptr;
    error_log(run.log, 1, kFn, "Unable to list date format dir under based dir %s for reading ",
              base_dir);
    vt_exit(-1);
  }
  dirs->listing_size = n;
  for (int i = 0; i < n; i++) dirs->names.push_back(dirs->listing[i]->d_name);
}

void check_range_bound(const char *bound, const char *start, const char *end) {
  if (strlen(bound) == 8 && begins_with_range_date(bound)) return;
  error_log(run.log, 1, kFn,
            "Invalid date \"%s\" in the date range %s-%s of INPUT_DIR: expected a calendar date "
            "YYYYMMDD from %d to %d",
            bound, start, end, kFirstRangeDate, kLastRangeDate);
  vt_exit(-1);
}

// Reads "start-end" into start_timestamp and end_timestamp.
void set_date_range(char *range) {
  if (run.log.debug_level) debug_log(run.log, 2, kFn, "Range is given for date fromat dir");
  char *dash = strchr(range, '-');
  *dash = '\0';
  const char *start = range, *end = dash + 1;
  check_range_bound(start, start, end);
  check_range_bound(end, start, end);
  run.files.start_timestamp = get_timestamp(start);
  run.files.end_timestamp = get_timestamp(end);
  if (run.files.start_timestamp > run.files.end_timestamp) {
    error_log(run.log, 1, kFn, "The date range %s-%s of INPUT_DIR ends before it starts", start,
              end);
    vt_exit(-1);
  }
}

void take_listed_date_dirs(const char *base_dir, char *names[], int n, DateDirs *dirs) {
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "date format dir is specified using ,. num_tokens = %d", n);
  char path[kTextBufSize];
  struct stat st;
  for (int i = 0; i < n; i++) {
    if (run.log.debug_level) debug_log(run.log, 2, kFn, "date_dir_array[i] = %s", names[i]);
    format_input_path(path, "%s/%s", base_dir, names[i]);
    if (stat(path, &st) != 0) {
      error_log(run.log, 1, kFn, "Unable to open dir %s", path);
      vt_exit(-1);
    }
    dirs->names.push_back(names[i]);
  }
}

void find_date_dirs(const InputSpec &spec, DateDirs *dirs) {
  if (!spec.date_part) {
    if (run.log.debug_level)
      debug_log(run.log, 2, kFn, "date format dir is not given. Taking all the directories");
    list_date_dirs(spec.base_dir, check_dir_format, dirs);
    return;
  }
  char *names[kMaxNames];
  int n = split_names(spec.date_part, names);
  if (n == 1 && strchr(names[0], '-')) {
    set_date_range(names[0]);
    list_date_dirs(spec.base_dir, check_dir_range, dirs);
    return;
  }
  take_listed_date_dirs(spec.base_dir, names, n, dirs);
}

// Points start_file_ptr and end_file_ptr at the 9th character of each name of
// "first-last"; both names must reach that far.
void set_file_range(const char *range) {
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "File range is given. listing all the files within the range");
  const char *dash = strchr(range, '-');
  if (dash - range < 9 || strlen(dash + 1) < 9) {
    error_log(run.log, 1, kFn,
              "Invalid file range %s in INPUT_DIR: both names need at least 9 characters, as in "
              "SOAP.log1-SOAP.log3",
              range);
    vt_exit(-1);
  }
  run.files.start_file_ptr = range + 8;
  run.files.end_file_ptr = dash + 9;
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "start_file_ptr = %s", run.files.start_file_ptr);
  if (run.log.debug_level) debug_log(run.log, 2, kFn, "end_file_ptr = %s", run.files.end_file_ptr);
}

void read_file_spec(char *file_part, FileSpec *files) {
  if (!file_part) return;
  files->num_names = split_names(file_part, files->names);
  if (files->num_names == 1 && strchr(files->names[0], '-')) {
    files->form = FileForm::kRange;
    set_file_range(files->names[0]);
    return;
  }
  files->form = FileForm::kList;
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "File names is given using ,. num_tokens = %d", files->num_names);
}

void append_file(const char *base_dir, const char *date_dir, const char *file,
                 const char *oom_name) {
  char path[kTextBufSize];
  int len = format_input_path(path, "%s/%s/extracts/%s", base_dir, date_dir, file);
  // A listed file that does not exist fails when it is opened; one that is
  // not a regular file (a pipe would block the run, a directory reads as
  // nothing) is refused here, before any loading.
  struct stat st;
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    error_log(run.log, 1, kFn, "Input file %s is not a regular file", path);
    vt_exit(-1);
  }
  if (run.log.debug_level) debug_log(run.log, 2, kFn, "seq_index = %d", run.files.num_seq_files);
  append_input_file(path, len, oom_name);
}

// Appends the files of one extracts directory that pass filter, in the order
// sort gives (listing order when null). A day without an extracts directory
// adds nothing; one whose directory is there but cannot be listed would drop
// its requests without a word, so it ends the run.
void append_listed_files(const char *base_dir, const char *date_dir, const char *dir_format,
                         int (*filter)(const struct dirent *),
                         int (*sort)(const struct dirent **, const struct dirent **),
                         const char *oom_name) {
  char dir[kTextBufSize];
  format_input_path(dir, dir_format, base_dir, date_dir);
  struct dirent **listing = nullptr;
  int n = scandir(dir, &listing, filter, sort);
  if (n < 0 && errno != ENOENT && errno != ENOTDIR) {
    error_log(run.log, 1, kFn, "Unable to list input directory %s: %s", dir, strerror(errno));
    vt_exit(-1);
  }
  for (int i = 0; i < n; i++) append_file(base_dir, date_dir, listing[i]->d_name, oom_name);
  for (int i = 0; i < n; i++) free(listing[i]);
  free(listing);
}

void append_files_of(const char *base_dir, const char *date_dir, const FileSpec &files) {
  switch (files.form) {
    case FileForm::kAll:
      if (run.log.debug_level) {
        debug_log(run.log, 2, kFn,
                  "File names or a range of files are not given. Listing all the files");
        debug_log(run.log, 2, kFn, "Reading files under dir %s/%s/extracts", base_dir, date_dir);
      }
      append_listed_files(base_dir, date_dir, "%s/%s/extracts", filter_file_name, my_alpha_sort,
                          "seq_file_path[i]");
      break;
    case FileForm::kRange:
      append_listed_files(base_dir, date_dir, "%s/%s/extracts/", filter_file_name_and_range,
                          nullptr, "Malloc seq data file");
      break;
    case FileForm::kList:
      for (int i = 0; i < files.num_names; i++)
        append_file(base_dir, date_dir, files.names[i], "Malloc seq data file");
      break;
  }
}

void show_input_files() {
  if (!run.log.debug_level) return;
  debug_log(run.log, 3, kFn, "Total input files = %d", run.files.num_seq_files);
  for (int i = 0; i < run.files.num_seq_files; i++)
    debug_log(run.log, 3, kFn, "File %d , name = %s", i + 1, run.files.seq_file_path[i].input_file);
}

}  // namespace

void gen_input_file_list() {
  InputSpec spec = split_input_dir();
  int64_t open_limit = raise_open_file_limit();
  check_base_dir(spec.base_dir);
  FileSpec files;
  read_file_spec(spec.file_part, &files);
  DateDirs dirs;
  find_date_dirs(spec, &dirs);
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "date dir listing complte. Going to read files under dir");
  for (const char *date_dir : dirs.names) append_files_of(spec.base_dir, date_dir, files);
  show_input_files();
  check_input_file_count(run.files.num_seq_files, open_limit);
}
