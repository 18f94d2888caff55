#include "tools/replay_gen/services/runtime_services.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/service_index.h"
#include "tools/replay_gen/services/service_map.h"

namespace {

constexpr int32_t kListGrowStep = 8;
constexpr const char *kDefaultIndexingTag = "XACustId";

ServiceTableView thread_list_view(const ThreadArgs *t) {
  return {t->run_time_services, sizeof(RunTimeServiceInfo),
          offsetof(RunTimeServiceInfo, service_name), offsetof(RunTimeServiceInfo, url),
          t->total_runtime_service};
}

// The thread's index, made to cover its whole list; null with *err when it
// cannot be had.
ServiceIndex *thread_list_index(ThreadArgs *t, Failure *err) {
  if (!t->run_time_index) {
    t->run_time_index = static_cast<ServiceIndex *>(calloc(1, sizeof(ServiceIndex)));
    if (!t->run_time_index) {
      out_of_memory(err, "get_and_save_runtime_service_data", "threadData->run_time_index",
                    static_cast<int>(sizeof(ServiceIndex)));
      return nullptr;
    }
  }
  if (!service_index_sync(t->run_time_index, thread_list_view(t), err)) return nullptr;
  return t->run_time_index;
}

// A copy for the thread's list; unlike the service table's copies it has no
// "Allocating memory" line: the list's own trace lines show what it holds.
char *copy_for_thread_list(const char *what, const char *text, Failure *err) {
  size_t size = strlen(text) + 1;
  char *copy = static_cast<char *>(malloc(size));
  if (!copy) {
    out_of_memory(err, "get_and_save_runtime_service_data", what, static_cast<int>(size));
    return nullptr;
  }
  memcpy(copy, text, size);
  return copy;
}

bool add_to_thread_list(ThreadArgs *t, const char *service_name, const char *url,
                        const char *soap_action, int *idx, Failure *err) {
  constexpr const char *fn = "get_and_save_runtime_service_data";
  if (t->total_runtime_service >= kMaxAddressableServices)
    return fail(err, fn,
                "Processing Thread[%d]:Too many services: a loader thread can address at most %d "
                "services that the configuration lacks (service name = %s, url = %s)",
                t->thread_id, kMaxAddressableServices, service_name, url);
  if (t->total_runtime_service == t->max_runtime_service) {
    size_t bytes = (t->max_runtime_service + kListGrowStep) * sizeof(RunTimeServiceInfo);
    auto *grown = static_cast<RunTimeServiceInfo *>(realloc(t->run_time_services, bytes));
    if (!grown)
      return out_of_memory(err, fn, "threadData->run_time_services", static_cast<int>(bytes));
    t->run_time_services = grown;
    t->max_runtime_service += kListGrowStep;
  }
  *idx = t->total_runtime_service++;
  RunTimeServiceInfo &e = t->run_time_services[*idx];
  e = RunTimeServiceInfo{};
  e.num_requests = 0;
  e.first_file_seq = t->cur_file_seq;
  return (e.url = copy_for_thread_list("url", url, err)) &&
         (e.service_name = copy_for_thread_list("service_name", service_name, err)) &&
         (e.soap_action = copy_for_thread_list("soap_action", soap_action, err));
}

}  // namespace

bool get_and_save_runtime_service_data(const RunState &run, ThreadArgs *threadData,
                                       const char *service_name, const char *url,
                                       const char *soap_action, int16_t *service_index,
                                       char *entry_type, Failure *err) {
  constexpr const char *fn = "get_and_save_runtime_service_data";
  const LogGates &log = run.log;
  int id = threadData->thread_id;
  if (log.debug_level)
    debug_log(log, 4, fn, "Processing Thread[%d]: Method called, service name = %s, url = %s", id,
              service_name, url);
  int idx = get_service_idx(run, service_name, url);
  *entry_type = SERVICE_MAP_ENTRY;
  if (idx < 0) {
    *entry_type = RUNTIME_SERVICE_ENTRY;
    ServiceIndex *index = thread_list_index(threadData, err);
    if (!index) return false;
    idx = service_index_find(index, service_name, url);
    if (idx < 0) {
      if (log.debug_level)
        debug_log(log, 3, fn,
                  "Processing Thread[%d]: Service index not found for service name = %s, saving "
                  "data",
                  id, service_name);
      if (!add_to_thread_list(threadData, service_name, url, soap_action, &idx, err)) return false;
      if (log.debug_level)
        debug_log(log, 4, fn,
                  "Processing Thread[%d]: service added, service_index = %hd, service name = %s, "
                  "url = %s",
                  id, static_cast<int16_t>(idx), service_name, url);
    }
  }
  *service_index = static_cast<int16_t>(idx);
  if (log.debug_level)
    debug_log(log, 4, fn,
              "Processing Thread[%d]: service name = %s, url = %s, service_index = %d, "
              "service_type = %s",
              id, service_name, url, idx,
              *entry_type == SERVICE_MAP_ENTRY ? "SERVICE_MAP_ENTRY" : "RUNTIME_SERVICE_ENTRY");
  return true;
}

bool create_service_entry_and_fill_data(RunState &run, const char *service_name, const char *url,
                                        const char *soap_action, uint16_t *service_index,
                                        Failure *err) {
  constexpr const char *fn = "create_service_entry_and_fill_data";
  const LogGates &log = run.log;
  if (!sync_service_index(run, err)) return false;
  int idx = get_service_idx(run, service_name, url);
  if (idx >= 0) {
    ServiceMap &found = run.services.service_map_ptr[idx];
    if (!found.soap_action && soap_action && *soap_action) {
      found.soap_action =
          copy_text(log, fn, "service_map_ptr[idx].soap_action", soap_action, 1, err);
      if (!found.soap_action) return false;
    }
  } else {
    if (log.debug_level)
      debug_log(log, 2, fn, "service Index not found for service name = %s, total_services = %lu",
                service_name, static_cast<unsigned long>(run.services.total_services));
    if (run.services.total_services >= kMaxAddressableServices)
      return fail(err, fn,
                  "Too many services: a run can address at most %d services (service name = %s, "
                  "url = %s)",
                  kMaxAddressableServices, service_name, url);
    uint16_t row = 0;
    if (!create_table_entry(&row, &run.services.total_services, &run.services.max_services,
                            reinterpret_cast<char **>(&run.services.service_map_ptr),
                            sizeof(ServiceMap), "Service Map", err))
      return false;
    if (log.debug_level) debug_log(log, 2, fn, "service index = %d", row);
    ServiceMap &e = run.services.service_map_ptr[row];
    memset(&e, 0, sizeof e);
    e.service_name = copy_text(log, fn, "Service name", service_name, kNameSuffixRoom, err);
    if (!e.service_name) return false;
    e.url = copy_text(log, fn, "Service url", url, 1, err);
    if (!e.url) return false;
    e.url_len = static_cast<int32_t>(strlen(url));
    if (soap_action && *soap_action) {
      e.soap_action = copy_text(log, fn, "soap_action", soap_action, 1, err);
      if (!e.soap_action) return false;
    } else if (log.debug_level) {
      // An empty action (every service under -u) is traced at its size but not
      // kept: the first record that brings one gives it to the service.
      debug_log(log, 2, fn, "Allocating memory for %s. size = %d", "soap_action", 1);
    }
    snprintf(e.indexing_tag, sizeof e.indexing_tag, "%s", kDefaultIndexingTag);
    run.services.num_service_file++;
    if (!sync_service_index(run, err)) return false;
    idx = row;
  }
  *service_index = static_cast<uint16_t>(idx);
  if (log.debug_level)
    debug_log(log, 2, fn, "service name %s service_id = %d, num_service_file = %d\n", service_name,
              idx, run.services.num_service_file);
  return true;
}

bool add_runtime_services_in_file_order(RunState &run, const ThreadArgs *threads, int num_threads,
                                        Failure *err) {
  // Every file is read by one thread, and a thread meets its services in
  // the order of its files and of their records. So the first meeting of a
  // service over all threads is the one in the lowest file, and within that
  // file the thread's list has the services in the order of their records.
  struct Met {
    int32_t file;
    int32_t thread;
    int32_t index;
  };
  // One thread met them in file order already; the table takes them as the
  // per-thread merge adds them, with its trace as one thread shows it.
  if (num_threads <= 1) return true;
  size_t total = 0;
  for (int i = 0; i < num_threads; i++) total += threads[i].total_runtime_service;
  if (total == 0) return true;
  auto *met = static_cast<Met *>(malloc(total * sizeof(Met)));
  if (!met)
    return out_of_memory(err, "add_runtime_services_in_file_order", "services met",
                         static_cast<int>(total * sizeof(Met)));
  size_t n = 0;
  for (int i = 0; i < num_threads; i++)
    for (int32_t k = 0; k < threads[i].total_runtime_service; k++)
      met[n++] = {threads[i].run_time_services[k].first_file_seq, i, k};
  std::sort(met, met + n, [](const Met &a, const Met &b) {
    if (a.file != b.file) return a.file < b.file;
    if (a.thread != b.thread) return a.thread < b.thread;
    return a.index < b.index;
  });
  bool ok = true;
  for (size_t m = 0; ok && m < n; m++) {
    const RunTimeServiceInfo &e = threads[met[m].thread].run_time_services[met[m].index];
    uint16_t idx = 0;
    ok = create_service_entry_and_fill_data(run, e.service_name, e.url, e.soap_action, &idx, err);
  }
  free(met);
  return ok;
}

bool update_service_map_ptr(RunState &run, ThreadArgs *threadData, int16_t num_predefined_services,
                            Failure *err) {
  if (run.log.debug_level)
    debug_log(run.log, 3, "update_service_map_ptr",
              "Method called, Processing Thread[%d]: total runtime services = %hd",
              threadData->thread_id, static_cast<int16_t>(threadData->total_runtime_service));
  for (int32_t i = 0; i < threadData->total_runtime_service; i++) {
    const RunTimeServiceInfo &e = threadData->run_time_services[i];
    uint16_t idx = 0;
    if (!create_service_entry_and_fill_data(run, e.service_name, e.url, e.soap_action, &idx, err))
      return false;
    run.services.service_map_ptr[idx].num_requests += e.num_requests;
  }
  for (int i = 0; i < num_predefined_services; i++)
    run.services.service_map_ptr[i].num_requests += threadData->service_counter[i];
  return true;
}

bool runtime_service_ids(RunState &run, const ThreadArgs *threadData, std::vector<int16_t> *ids,
                         Failure *err) {
  int32_t n = threadData->total_runtime_service;
  ids->clear();
  if (n == 0) return true;
  ids->resize(static_cast<size_t>(n));
  if (!sync_service_index(run, err)) return false;
  for (int32_t i = 0; i < n; i++) {
    const RunTimeServiceInfo &e = threadData->run_time_services[i];
    (*ids)[static_cast<size_t>(i)] =
        static_cast<int16_t>(get_service_idx(run, e.service_name, e.url));
  }
  return true;
}

bool remap_runtime_service_ids(RunState &run, const ThreadArgs *threadData, SeqData *records,
                               uint64_t count, Failure *err) {
  std::vector<int16_t> map_idx;
  if (!runtime_service_ids(run, threadData, &map_idx, err)) return false;
  if (map_idx.empty()) return true;
  for (uint64_t q = 0; q < count; q++)
    if (records[q].runtime_service == 1) records[q].service_id = map_idx[records[q].service_id];
  return true;
}

void free_runtime_services(ThreadArgs *threadData) {
  for (int32_t i = 0; i < threadData->total_runtime_service; i++) {
    RunTimeServiceInfo &e = threadData->run_time_services[i];
    free(e.url);
    free(e.service_name);
    free(e.soap_action);
  }
  free(threadData->run_time_services);
  threadData->run_time_services = nullptr;
  if (threadData->run_time_index) service_index_free(threadData->run_time_index);
  free(threadData->run_time_index);
  threadData->run_time_index = nullptr;
  threadData->total_runtime_service = threadData->max_runtime_service = 0;
}
