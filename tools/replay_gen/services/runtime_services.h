// Services met in the logs: per-thread discovery while loading, and the merge
// into the service table once every loader thread has ended.
#ifndef VT_REPLAY_GEN_SERVICES_RUNTIME_SERVICES_H_
#define VT_REPLAY_GEN_SERVICES_RUNTIME_SERVICES_H_

#include <stdint.h>

#include <vector>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/service_map.h"

// Entry types: where a record's service index points.
constexpr char SERVICE_MAP_ENTRY = 1;      // into service_map_ptr
constexpr char RUNTIME_SERVICE_ENTRY = 2;  // into the thread's run_time_services

// Services a 16-bit service id can address, in a thread's list and in the
// service table.
constexpr int32_t kMaxAddressableServices = kMaxServices;

// Classifies one accepted record's (service_name, url) pair: the service
// table's index when the table holds the pair, else the index in the thread's
// own list, adding the pair (with a copy of soap_action) when new. Loader
// threads only; reads the service table, writes only threadData.
bool get_and_save_runtime_service_data(const RunState &run, ThreadArgs *threadData,
                                       const char *service_name, const char *url,
                                       const char *soap_action, int16_t *service_index,
                                       char *entry_type, Failure *err);

// Finds or adds the service table entry of a pair. Main thread only.
bool create_service_entry_and_fill_data(RunState &run, const char *service_name, const char *url,
                                        const char *soap_action, uint16_t *service_index,
                                        Failure *err);

// Adds the services that the finished threads met and the service table
// lacks, in the order in which one thread reading the files in list order
// would have met them, whichever thread read which file. The entries take
// no requests yet: update_service_map_ptr then finds them.
bool add_runtime_services_in_file_order(RunState &run, const ThreadArgs *threads, int num_threads,
                                        Failure *err);

// Adds a finished thread's services and request counts to the service table.
// num_predefined_services: table entries when the threads started.
bool update_service_map_ptr(RunState &run, ThreadArgs *threadData, int16_t num_predefined_services,
                            Failure *err);

// The service table index of every service in a finished thread's list.
// Call after every thread's update_service_map_ptr.
bool runtime_service_ids(RunState &run, const ThreadArgs *threadData, std::vector<int16_t> *ids,
                         Failure *err);

// Points the records of a merged thread that name its own list at the
// service table instead. Call after every thread's update_service_map_ptr.
bool remap_runtime_service_ids(RunState &run, const ThreadArgs *threadData, SeqData *records,
                               uint64_t count, Failure *err);

// Releases a thread's list.
void free_runtime_services(ThreadArgs *threadData);

#endif  // VT_REPLAY_GEN_SERVICES_RUNTIME_SERVICES_H_
