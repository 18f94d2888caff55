#include "tools/replay_gen/services/service_map.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "tools/replay_gen/config_value.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/service_index.h"

namespace {

ServiceTableView service_table_view(const RunState &run) {
  return {run.services.service_map_ptr, sizeof(ServiceMap), offsetof(ServiceMap, service_name),
          offsetof(ServiceMap, url), run.services.total_services};
}

bool given(int num, char **field, int idx) {
  return num > idx && strcmp(field[idx], "NA") != 0;
}

// Refuses, before anything is added, a line whose values do not fit.
bool check_service_line(const RunState &run, int num, char **field, Failure *err) {
  if (num < 4)
    return fail(err, "set_service", "Keyword %s has %d fields less then expected %d fields\n",
                field[0], num, 4);
  if (!check_config_value_length(run, field[2], kMethodTypeSize - 1, "SERVICE_NAME method",
                                 "set_service", err))
    return false;
  if (given(num, field, 4) &&
      !check_config_value_length(run, field[4], kTagSize - 1, "SERVICE_NAME indexing tag",
                                 "set_service", err))
    return false;
  if (given(num, field, 5) &&
      !check_config_value_length(run, field[5], kTagSize - 1, "SERVICE_NAME name prefix",
                                 "set_service", err))
    return false;
  if (run.services.total_services >= kMaxServices)
    return fail(err, "set_service",
                "SERVICE_NAME at line %d of the configuration is one service too many; at most %d "
                "services are allowed.",
                run.config.current_line_num, kMaxServices);
  return true;
}

}  // namespace

bool set_service(RunState &run, int num, char **field, Failure *err) {
  const LogGates &log = run.log;
  if (log.debug_level) debug_log(log, 4, "set_service", "Method Called. num = %d", num);
  if (!check_service_line(run, num, field, err)) return false;
  uint16_t row;
  if (!create_table_entry(&row, &run.services.total_services, &run.services.max_services,
                          reinterpret_cast<char **>(&run.services.service_map_ptr),
                          sizeof(ServiceMap), "Service name", err))
    return false;
  ServiceMap &entry = run.services.service_map_ptr[row];
  // Every text of the new entry is owned by the table (released with it)
  // from here on, null until it is had.
  memset(&entry, 0, sizeof entry);
  entry.service_name =
      copy_text(log, "set_service", "Service Name", field[1], kNameSuffixRoom, err, row);
  if (!entry.service_name) return false;
  if (log.debug_level)
    debug_log(log, 3, "set_service", "service_map_ptr[%d].service_name = %s\n", row,
              entry.service_name);
  strcpy(entry.method_type, field[2]);
  if (log.debug_level)
    debug_log(log, 3, "set_service", "service_map_ptr[%d].method_type = %s\n", row,
              entry.method_type);
  entry.url_len = static_cast<int32_t>(strlen(field[3]));
  entry.url = copy_text(log, "set_service", "URL", field[3], 1, err, row);
  if (!entry.url) return false;
  if (log.debug_level)
    debug_log(log, 3, "set_service", "service_map_ptr[%d].url = %s\n", row, entry.url);
  if (given(num, field, 4)) {
    strcpy(entry.indexing_tag, field[4]);
    if (log.debug_level) debug_log(log, 4, "set_service", "Indexing tag - %s", entry.indexing_tag);
  } else {
    strcpy(entry.indexing_tag, "XACustId");
  }
  if (given(num, field, 5)) {
    strcpy(entry.sname_prefix, field[5]);
    if (log.debug_level)
      debug_log(log, 4, "set_service", "service name perfix = %s", entry.sname_prefix);
  }
  for (int i = 6; i < num; i++)
    if (given(num, field, i) && !set_service_header(run, row, field[i], err)) return false;
  run.services.num_service_file++;
  return sync_service_index(run, err);
}

bool set_service_header(RunState &run, int service_row_num, const char *header_line, Failure *err) {
  ServiceMap &entry = run.services.service_map_ptr[service_row_num];
  if (!append_text(&entry.service_header, &entry.service_header_len, header_line, "\r\n",
                   "Service Header", "set_service_header", err))
    return false;
  if (run.log.debug_level)
    debug_log(run.log, 3, "set_service_header",
              "Service id = %d, service_header_len = %d, service_header(s) = %s", service_row_num,
              entry.service_header_len, entry.service_header);
  return true;
}

int get_service_idx(const RunState &run, const char *service, const char *url) {
  if (run.log.debug_level)
    debug_log(run.log, 4, "get_service_idx", "Method Called: service %s, total_services = %d",
              service, run.services.total_services);
  // The index answers whenever it covers the table; otherwise (the table was
  // filled behind this file's back) the scan gives the same answer.
  if (service_index_current(&run.services.service_index, service_table_view(run)))
    return service_index_find(&run.services.service_index, service, url);
  for (int i = 0; i < run.services.total_services; i++) {
    const ServiceMap &entry = run.services.service_map_ptr[i];
    if (strcmp(entry.service_name, service) == 0 && strcmp(entry.url, url) == 0) return i;
  }
  return -1;
}

bool sync_service_index(RunState &run, Failure *err) {
  return service_index_sync(&run.services.service_index, service_table_view(run), err);
}

bool rename_service_names(RunState &run, Failure *err) {
  constexpr char kFname[] = "rename_service_names";
  ServiceTable &t = run.services;
  if (run.log.debug_level) {
    debug_log(run.log, 4, kFname, "Method called, Total services - %d", t.total_services);
    debug_log(run.log, 2, kFname, "Allocating memory for %s. size = %d", "Service_map_array_seq",
              static_cast<int>(t.total_services * sizeof(int)));
  }
  // Names change in place below.
  service_index_free(&t.service_index);
  int *seq = static_cast<int *>(malloc(t.total_services * sizeof(int) + 1));
  if (!seq)
    return out_of_memory(err, kFname, "Service_map_array_seq",
                         static_cast<int>(t.total_services * sizeof(int)));
  for (int i = 0; i < t.total_services; i++) seq[i] = i;
  // Equal names keep their index order, so the first of a name keeps it.
  std::stable_sort(seq, seq + t.total_services, [&t](int a, int b) {
    return strcmp(t.service_map_ptr[a].service_name, t.service_map_ptr[b].service_name) < 0;
  });
  const char *group = nullptr;
  int counter = 0;
  for (int i = 0; i < t.total_services; i++) {
    char *name = t.service_map_ptr[seq[i]].service_name;
    if (!group || strcmp(name, group) != 0) {
      group = name;
      counter = 0;
      continue;
    }
    counter++;
    // Every name was stored with kNameSuffixRoom bytes to spare.
    snprintf(name, strlen(group) + kNameSuffixRoom, "%s_%d", group, counter);
  }
  free(seq);
  if (run.log.debug_level) debug_log(run.log, 4, kFname, "Successfully renamed the services");
  return true;
}

void print_service_info(const RunState &run) {
  if (run.log.debug_level) debug_log(run.log, 4, "print_service_info", "Method Called");
  // The report is printed whatever the log gates say.
  console_printf(run.log, "# Service Name\t\t\t\t\tTotal Requests\tURL\n");
  for (int i = 0; i < run.services.total_services; i++) {
    const ServiceMap &entry = run.services.service_map_ptr[i];
    // Names and URLs from the logs may hold control bytes: shown escaped.
    console_printf(
        run.log, "%d %-30s\t\t%lu\t\t%-20s\n", i, printable_text(entry.service_name).c_str(),
        static_cast<unsigned long>(entry.num_requests), printable_text(entry.url).c_str());
  }
}
