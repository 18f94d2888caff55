#include "tools/replay_gen/loader/input_files.h"

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/loader/input_filters.h"
#include "tools/replay_gen/loader/input_open_limit.h"
#include "tools/replay_gen/loader/input_paths.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/trace_names.h"

namespace {

constexpr const char *kFn = trace_name::kGenInputFileList;
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
InputSpec split_input_dir(RunState &run) {
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

bool split_names(const RunState &run, char *part, char *names[], int *n, Failure *err) {
  *n = get_tokens_local(run.log, part, names, ",", kMaxNames);
  // Dropping the names past the limit would lose their requests silently.
  if (*n > kMaxNames)
    return fail(err, kFn, "INPUT_DIR list holds more than %d names; list at most %d or use a range",
                kMaxNames, kMaxNames);
  if (run.log.debug_level) debug_log(run.log, 2, kFn, "num_tokens = %d", *n);
  return true;
}

bool check_base_dir(const char *base_dir, Failure *err) {
  DIR *dir = opendir(base_dir);
  if (!dir) return fail(err, kFn, "Unable to open based dir %s for reading ", base_dir);
  closedir(dir);
  return true;
}

int compare_numbered(const void *a, const void *b) {
  return my_alpha_sort(static_cast<const struct dirent **>(const_cast<void *>(a)),
                       static_cast<const struct dirent **>(const_cast<void *>(b)));
}

// The entries of dir that select takes, in listing order, or with numbered
// in the order of their numbers (my_alpha_sort): what scandir gives with
// select as its filter. -1 with errno set when dir cannot be listed.
template <typename Select>
int list_dir(const char *dir, struct dirent ***listing, Select select, bool numbered) {
  int n = scandir(dir, listing, nullptr, nullptr);
  if (n < 0) return n;
  int kept = 0;
  for (int i = 0; i < n; i++) {
    if (select((*listing)[i]->d_name))
      (*listing)[kept++] = (*listing)[i];
    else
      free((*listing)[i]);
  }
  if (numbered)
    qsort(*listing, static_cast<size_t>(kept), sizeof(struct dirent *), compare_numbered);
  return kept;
}

template <typename Select>
bool list_date_dirs(const RunState &run, const char *base_dir, Select select, DateDirs *dirs,
                    Failure *err) {
  int n = list_dir(base_dir, &dirs->listing, select, false);
  if (run.log.debug_level) debug_log(run.log, 2, kFn, "n = %d", n);
  if (n <= 0) {
    free(dirs->listing);
    dirs->listing = nullptr;
    return fail(err, kFn, "Unable to list date format dir under based dir %s for reading ",
                base_dir);
  }
  dirs->listing_size = n;
  for (int i = 0; i < n; i++) dirs->names.push_back(dirs->listing[i]->d_name);
  return true;
}

bool check_range_bound(const char *bound, const char *start, const char *end, Failure *err) {
  if (strlen(bound) == 8 && begins_with_range_date(bound)) return true;
  return fail(err, kFn,
              "Invalid date \"%s\" in the date range %s-%s of INPUT_DIR: expected a calendar date "
              "YYYYMMDD from %d to %d",
              bound, start, end, kFirstRangeDate, kLastRangeDate);
}

// Reads "start-end" into start_timestamp and end_timestamp.
bool set_date_range(RunState &run, char *range, Failure *err) {
  if (run.log.debug_level) debug_log(run.log, 2, kFn, "Range is given for date fromat dir");
  char *dash = strchr(range, '-');
  *dash = '\0';
  const char *start = range, *end = dash + 1;
  if (!check_range_bound(start, start, end, err) || !check_range_bound(end, start, end, err))
    return false;
  run.files.start_timestamp = get_timestamp(start);
  run.files.end_timestamp = get_timestamp(end);
  if (run.files.start_timestamp > run.files.end_timestamp)
    return fail(err, kFn, "The date range %s-%s of INPUT_DIR ends before it starts", start, end);
  return true;
}

bool take_listed_date_dirs(const RunState &run, const char *base_dir, char *names[], int n,
                           DateDirs *dirs, Failure *err) {
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "date format dir is specified using ,. num_tokens = %d", n);
  char path[kTextBufSize];
  struct stat st;
  for (int i = 0; i < n; i++) {
    if (run.log.debug_level) debug_log(run.log, 2, kFn, "date_dir_array[i] = %s", names[i]);
    if (format_input_path(err, path, "%s/%s", base_dir, names[i]) < 0) return false;
    if (stat(path, &st) != 0) return fail(err, kFn, "Unable to open dir %s", path);
    dirs->names.push_back(names[i]);
  }
  return true;
}

bool find_date_dirs(RunState &run, const InputSpec &spec, DateDirs *dirs, Failure *err) {
  if (!spec.date_part) {
    if (run.log.debug_level)
      debug_log(run.log, 2, kFn, "date format dir is not given. Taking all the directories");
    return list_date_dirs(run, spec.base_dir, check_dir_format, dirs, err);
  }
  char *names[kMaxNames];
  int n;
  if (!split_names(run, spec.date_part, names, &n, err)) return false;
  if (n == 1 && strchr(names[0], '-')) {
    if (!set_date_range(run, names[0], err)) return false;
    const InputFiles &files = run.files;
    return list_date_dirs(
        run, spec.base_dir, [&files](const char *name) { return check_dir_range(files, name); },
        dirs, err);
  }
  return take_listed_date_dirs(run, spec.base_dir, names, n, dirs, err);
}

// Points start_file_ptr and end_file_ptr at the 9th character of each name of
// "first-last"; both names must reach that far.
bool set_file_range(RunState &run, const char *range, Failure *err) {
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "File range is given. listing all the files within the range");
  const char *dash = strchr(range, '-');
  if (dash - range < 9 || strlen(dash + 1) < 9)
    return fail(err, kFn,
                "Invalid file range %s in INPUT_DIR: both names need at least 9 characters, as in "
                "SOAP.log1-SOAP.log3",
                range);
  run.files.start_file_ptr = range + 8;
  run.files.end_file_ptr = dash + 9;
  if (run.log.debug_level) {
    debug_log(run.log, 2, kFn, "start_file_ptr = %s", run.files.start_file_ptr);
    debug_log(run.log, 2, kFn, "end_file_ptr = %s", run.files.end_file_ptr);
  }
  return true;
}

bool read_file_spec(RunState &run, char *file_part, FileSpec *files, Failure *err) {
  if (!file_part) return true;
  if (!split_names(run, file_part, files->names, &files->num_names, err)) return false;
  if (files->num_names == 1 && strchr(files->names[0], '-')) {
    files->form = FileForm::kRange;
    return set_file_range(run, files->names[0], err);
  }
  files->form = FileForm::kList;
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "File names is given using ,. num_tokens = %d", files->num_names);
  return true;
}

bool append_file(RunState &run, const char *base_dir, const char *date_dir, const char *file,
                 const char *oom_name, Failure *err) {
  char path[kTextBufSize];
  int len = format_input_path(err, path, "%s/%s/extracts/%s", base_dir, date_dir, file);
  if (len < 0) return false;
  // A listed file that does not exist fails when it is opened; one that is
  // not a regular file (a pipe would block the run, a directory reads as
  // nothing) is refused here, before any loading.
  struct stat st;
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode))
    return fail(err, kFn, "Input file %s is not a regular file", path);
  if (run.log.debug_level) debug_log(run.log, 2, kFn, "seq_index = %d", run.files.num_seq_files);
  return append_input_file(run, path, len, oom_name, err);
}

// Appends the files of one extracts directory that select takes, in
// listing order or, numbered, in the order of their numbers. A day without an extracts
// directory adds nothing; one whose directory is there but cannot be listed
// would drop its requests without a word, so it fails the run.
template <typename Select>
bool append_listed_files(RunState &run, const char *base_dir, const char *date_dir,
                         const char *dir_format, Select select, bool numbered, const char *oom_name,
                         Failure *err) {
  char dir[kTextBufSize];
  if (format_input_path(err, dir, dir_format, base_dir, date_dir) < 0) return false;
  struct dirent **listing = nullptr;
  int n = list_dir(dir, &listing, select, numbered);
  if (n < 0 && errno != ENOENT && errno != ENOTDIR)
    return fail(err, kFn, "Unable to list input directory %s: %s", dir, strerror(errno));
  bool ok = true;
  for (int i = 0; ok && i < n; i++)
    ok = append_file(run, base_dir, date_dir, listing[i]->d_name, oom_name, err);
  for (int i = 0; i < n; i++) free(listing[i]);
  free(listing);
  return ok;
}

bool append_files_of(RunState &run, const char *base_dir, const char *date_dir,
                     const FileSpec &files, Failure *err) {
  const LogGates &log = run.log;
  const InputFiles &input = run.files;
  switch (files.form) {
    case FileForm::kAll:
      if (log.debug_level) {
        debug_log(log, 2, kFn,
                  "File names or a range of files are not given. Listing all the files");
        debug_log(log, 2, kFn, "Reading files under dir %s/%s/extracts", base_dir, date_dir);
      }
      return append_listed_files(
          run, base_dir, date_dir, "%s/%s/extracts",
          [&log](const char *name) { return filter_file_name(log, name); }, true,
          "seq_file_path[i]", err);
    case FileForm::kRange:
      return append_listed_files(
          run, base_dir, date_dir, "%s/%s/extracts/",
          [&input](const char *name) { return filter_file_name_and_range(input, name); }, false,
          "Malloc seq data file", err);
    case FileForm::kList:
      for (int i = 0; i < files.num_names; i++)
        if (!append_file(run, base_dir, date_dir, files.names[i], "Malloc seq data file", err))
          return false;
      return true;
  }
  return true;
}

void show_input_files(const RunState &run) {
  if (!run.log.debug_level) return;
  debug_log(run.log, 3, kFn, "Total input files = %d", run.files.num_seq_files);
  for (int i = 0; i < run.files.num_seq_files; i++)
    debug_log(run.log, 3, kFn, "File %d , name = %s", i + 1, run.files.seq_file_path[i].input_file);
}

}  // namespace

bool gen_input_file_list(RunState &run, Failure *err) {
  InputSpec spec = split_input_dir(run);
  int64_t open_limit = raise_open_file_limit(run.log);
  if (!check_base_dir(spec.base_dir, err)) return false;
  FileSpec files;
  if (!read_file_spec(run, spec.file_part, &files, err)) return false;
  DateDirs dirs;
  if (!find_date_dirs(run, spec, &dirs, err)) return false;
  if (run.log.debug_level)
    debug_log(run.log, 2, kFn, "date dir listing complte. Going to read files under dir");
  for (const char *date_dir : dirs.names)
    if (!append_files_of(run, spec.base_dir, date_dir, files, err)) return false;
  show_input_files(run);
  return check_input_file_count(run, run.files.num_seq_files, open_limit, err);
}
