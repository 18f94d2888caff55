// The parallel loader over one input cut into files: several threads give one thread's records
// and services, in the same order (fuzz_cases.h).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/fuzz_cases.h"
#include "tools/replay_gen/loader/loader_test_support.h"
#include "tools/replay_gen/loader/parallel_loader.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

constexpr const char *kEndLine = "*******";

// The files of one case: where they are and what they hold.
struct Split {
  uint8_t mode;
  std::string dir;  // the files and the threads' error logs
  std::vector<std::string> paths;
};

// What a load leaves: the records' fields but their streams, the services, the counts.
struct Loaded {
  std::vector<std::tuple<uint64_t, int64_t, uint64_t, uint64_t, off_t, uint64_t, uint32_t, uint32_t,
                         int16_t, int16_t, char, char>>
      records;
  std::vector<std::tuple<std::string, std::string, std::string, uint64_t, std::string>> services;
  std::vector<uint64_t> counters;
  std::vector<std::pair<int32_t, uint64_t>> per_file;
};

// A record every mode accepts, of a service the files before lack (so every stream is closed).
std::string lead_record(size_t file) {
  std::string n = std::to_string(file);
  return "RequestTimeEx=1795000001.5\nHTTP_SOAPACTION=\"urn:Lead/IFile" + n + "/Op\"\nURL=/lead/" +
         n + ".svc\nxml1=000000001<XACustId>" + n + "</XACustId>&xmlEnd=00\n" + kEndLine + "\n";
}

constexpr size_t kMaxFiles = 16;  // the last takes the rest of the input

// Cuts the input after every per_file-th end line into files, each after its lead record.
Split write_files(uint8_t mode, const uint8_t *data, size_t size, int per_file) {
  char dir[] = "/tmp/vt_loader_fuzz_XXXXXX";
  if (!mkdtemp(dir)) abort();
  Split split{mode, dir, {}};
  std::string text;
  int end_lines = 0;
  auto flush = [&] {
    std::string path = split.dir + "/part." + std::to_string(split.paths.size());
    write_text(path, lead_record(split.paths.size()) + text);
    split.paths.push_back(path);
    text.clear();
    end_lines = 0;
  };
  for (size_t pos = 0; pos < size;) {
    const void *nl = memchr(data + pos, '\n', size - pos);
    size_t end = nl ? static_cast<const uint8_t *>(nl) - data + 1 : size;
    text.append(reinterpret_cast<const char *>(data + pos), end - pos);
    bool end_line =
        end - pos >= strlen(kEndLine) && memcmp(data + pos, kEndLine, strlen(kEndLine)) == 0;
    pos = end;
    if (end_line && ++end_lines == per_file && pos < size && split.paths.size() + 1 < kMaxFiles)
      flush();
  }
  flush();
  return split;
}

void set_up(RunState &run, const Split &split) {
  snprintf(run.config.replay_dir, sizeof run.config.replay_dir, "%s", split.dir.c_str());
  run.options.svc_id_uses_svc_name = (split.mode & kModeServiceName) != 0;
  run.options.do_parameterization = (split.mode & kModeParameterize) != 0;
  if (split.mode & kModeServices) {
    loader_test::add_configured_service(run, "IService_GetData", "http://127.0.0.1/svc/Service.svc",
                                        "CustNo");
    loader_test::add_configured_service(run, "svc_Service.svc", "http://127.0.0.1/svc/Service.svc",
                                        "XACustId");
    loader_test::add_configured_service(run, "IFile1_Op", "http://127.0.0.1/lead/1.svc",
                                        "XACustId");
  }
  for (const std::string &path : split.paths) loader_test::add_input_file(run, path);
  run.config.g_msgcount_per_file = 4;  // the thread arrays grow
  run.log.info_level = 0;
  run.log.error_level = 0;
}

std::string load(const Split &split, int16_t threads, Loaded *out) {
  RunState run;
  set_up(run, split);
  run.options.g_num_thread = threads;
  Failure err;
  if (!load_input_data_files(run, &err))
    return fuzz_failure("%d threads: the load failed: %s", threads,
                        err.lines.empty() ? "" : err.lines[0].text.c_str());
  std::set<FILE *> streams;
  for (uint64_t i = 0; i < run.counters.g_valid_msgcount; i++) {
    const SeqData &s = run.records.seq_data_arr[i];
    out->records.push_back({s.time_stamp, s.uid, s.seq, s.parent_seq, s.req_offset, s.req_size,
                            s.seq_index, s.creation_ts_offset, s.service_id, s.creation_ts_size,
                            s.type, s.runtime_service});
    streams.insert(s.req_file_fp);
  }
  // The loader leaves the input streams open for the request files.
  if (streams.size() != split.paths.size())
    return fuzz_failure("%d threads: %zu files with accepted records of %zu", threads,
                        streams.size(), split.paths.size());
  for (int i = 0; i < run.services.total_services; i++) {
    const ServiceMap &e = run.services.service_map_ptr[i];
    out->services.push_back({e.service_name, e.url, e.soap_action ? e.soap_action : "",
                             e.num_requests, e.indexing_tag});
  }
  out->counters = {run.counters.g_msgcount, run.counters.g_valid_msgcount,
                   run.counters.g_ignore_request, run.counters.g_no_xacustid_messages,
                   run.counters.g_empty_xacustid_messages};
  for (int i = 0; i < run.files.num_seq_files; i++)
    out->per_file.push_back(
        {run.files.seq_file_path[i].msgcount, run.files.seq_file_path[i].num_accepted});
  return "";
}

// Where the load of several threads first parts from that of one, if it does.
template <typename List>
std::string first_difference(const char *what, const List &one, const List &many, int threads) {
  if (many == one) return "";
  size_t at = std::mismatch(one.begin(), one.end(), many.begin(), many.end()).first - one.begin();
  return fuzz_failure("%d threads: %s differ at %zu (%zu of them, one thread %zu)", threads, what,
                      at, many.size(), one.size());
}

std::string compare(const Loaded &one, const Loaded &many, int threads) {
  std::string why = first_difference("services", one.services, many.services, threads);
  if (why.empty()) why = first_difference("records", one.records, many.records, threads);
  if (why.empty()) why = first_difference("counters", one.counters, many.counters, threads);
  if (why.empty()) why = first_difference("file counts", one.per_file, many.per_file, threads);
  return why;
}

}  // namespace

std::string run_loader_fuzz_case(const uint8_t *data, size_t size) {
  uint8_t mode = size > 0 ? data[0] : kModeServiceName;
  uint8_t extra = size > 1 ? data[1] : 0;
  int threads = 2 + (extra & 7);
  int per_file = 1 + (extra >> 3);
  size_t skip = size < 2 ? size : 2;
  Split split = write_files(mode, data + skip, size - skip, per_file);

  Loaded one, many;
  std::string why = load(split, 1, &one);
  if (why.empty()) why = load(split, static_cast<int16_t>(threads), &many);
  if (why.empty()) why = compare(one, many, threads);
  remove_dir(split.dir);
  return why;
}
