// A loader thread's memory of which service each (name, URL) pair went to,
// so that a record's service is found without scanning the service table and
// the thread's list again. The answers never go stale while loading: the
// table does not change and the thread's list only grows.
#ifndef VT_REPLAY_GEN_LOADER_SERVICE_CACHE_H_
#define VT_REPLAY_GEN_LOADER_SERVICE_CACHE_H_

#include <stddef.h>
#include <stdint.h>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/run_state.h"

struct ServiceCacheSlot {
  uint64_t hash;  // 0: empty slot
  int16_t service_index;
  char entry_type;  // SERVICE_MAP_ENTRY or RUNTIME_SERVICE_ENTRY
};

struct ServiceCache {
  ServiceCacheSlot *slots;
  size_t capacity;  // a power of two, or 0
  size_t used;
};

uint64_t service_cache_hash(const char *service_name, const char *url);

// The pair's service as get_and_save_runtime_service_data gave it; false when
// the pair is not cached.
bool service_cache_find(const RunState &run, const ServiceCache *cache, const ThreadArgs *thread,
                        uint64_t hash, const char *service_name, const char *url,
                        int16_t *service_index, char *entry_type);

// False, with *err, when the cache cannot grow.
bool service_cache_add(ServiceCache *cache, uint64_t hash, int16_t service_index, char entry_type,
                       Failure *err);

void service_cache_free(ServiceCache *cache);

#endif  // VT_REPLAY_GEN_LOADER_SERVICE_CACHE_H_
