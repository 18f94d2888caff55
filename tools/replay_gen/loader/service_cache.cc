#include "tools/replay_gen/loader/service_cache.h"

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string_view>

#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/runtime_services.h"

namespace {

constexpr size_t kInitialCapacity = 64;

bool same_pair(const RunState &run, const ThreadArgs *thread, const ServiceCacheSlot &slot,
               const char *service_name, const char *url) {
  const char *name, *slot_url;
  if (slot.entry_type == SERVICE_MAP_ENTRY) {
    name = run.services.service_map_ptr[slot.service_index].service_name;
    slot_url = run.services.service_map_ptr[slot.service_index].url;
  } else {
    name = thread->run_time_services[slot.service_index].service_name;
    slot_url = thread->run_time_services[slot.service_index].url;
  }
  return strcmp(name, service_name) == 0 && strcmp(slot_url, url) == 0;
}

void insert_slot(ServiceCacheSlot *slots, size_t capacity, const ServiceCacheSlot &slot) {
  size_t i = slot.hash & (capacity - 1);
  while (slots[i].hash) i = (i + 1) & (capacity - 1);
  slots[i] = slot;
}

bool grow(ServiceCache *cache, Failure *err) {
  size_t capacity = cache->capacity ? cache->capacity * 2 : kInitialCapacity;
  auto *slots = static_cast<ServiceCacheSlot *>(calloc(capacity, sizeof(ServiceCacheSlot)));
  if (!slots)
    return out_of_memory(err, "service_cache_add", "service cache",
                         static_cast<int>(capacity * sizeof(ServiceCacheSlot)));
  for (size_t i = 0; i < cache->capacity; i++)
    if (cache->slots[i].hash) insert_slot(slots, capacity, cache->slots[i]);
  free(cache->slots);
  cache->slots = slots;
  cache->capacity = capacity;
  return true;
}

}  // namespace

uint64_t service_cache_hash(const char *service_name, const char *url) {
  std::hash<std::string_view> hash;
  uint64_t a = hash(service_name);
  uint64_t h = a ^ (hash(url) + 0x9e3779b97f4a7c15ull + (a << 6) + (a >> 2));
  return h ? h : 1;
}

bool service_cache_find(const RunState &run, const ServiceCache *cache, const ThreadArgs *thread,
                        uint64_t hash, const char *service_name, const char *url,
                        int16_t *service_index, char *entry_type) {
  if (!cache->capacity) return false;
  for (size_t i = hash & (cache->capacity - 1); cache->slots[i].hash;
       i = (i + 1) & (cache->capacity - 1)) {
    const ServiceCacheSlot &slot = cache->slots[i];
    if (slot.hash == hash && same_pair(run, thread, slot, service_name, url)) {
      *service_index = slot.service_index;
      *entry_type = slot.entry_type;
      return true;
    }
  }
  return false;
}

bool service_cache_add(ServiceCache *cache, uint64_t hash, int16_t service_index, char entry_type,
                       Failure *err) {
  if ((cache->used + 1) * 2 > cache->capacity && !grow(cache, err)) return false;
  insert_slot(cache->slots, cache->capacity, {hash, service_index, entry_type});
  cache->used++;
  return true;
}

void service_cache_free(ServiceCache *cache) {
  free(cache->slots);
  *cache = ServiceCache{};
}
