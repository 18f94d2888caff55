#include "tools/replay_gen/service_index.h"

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string_view>

namespace {

constexpr size_t kInitialCapacity = 64;

uint64_t pair_hash(const char *name, const char *url) {
  std::hash<std::string_view> hash;
  uint64_t a = hash(name);
  uint64_t h = a ^ (hash(url) + 0x9e3779b97f4a7c15ull + (a << 6) + (a >> 2));
  return h ? h : 1;
}

void insert_slot(ServiceIndexSlot *slots, size_t capacity, const ServiceIndexSlot &slot) {
  size_t i = slot.hash & (capacity - 1);
  while (slots[i].hash) i = (i + 1) & (capacity - 1);
  slots[i] = slot;
}

bool grow(ServiceIndex *index, Failure *err) {
  size_t capacity = index->capacity ? index->capacity * 2 : kInitialCapacity;
  auto *slots = static_cast<ServiceIndexSlot *>(calloc(capacity, sizeof(ServiceIndexSlot)));
  if (!slots)
    return out_of_memory(err, "service_index_add", "service index",
                         static_cast<long long>(capacity * sizeof(ServiceIndexSlot)));
  for (size_t i = 0; i < index->capacity; i++)
    if (index->slots[i].hash) insert_slot(slots, capacity, index->slots[i]);
  free(index->slots);
  index->slots = slots;
  index->capacity = capacity;
  return true;
}

const ServiceIndexSlot *find_slot(const ServiceIndex *index, uint64_t hash, const char *name,
                                  const char *url) {
  if (!index->capacity) return nullptr;
  for (size_t i = hash & (index->capacity - 1); index->slots[i].hash;
       i = (i + 1) & (index->capacity - 1)) {
    const ServiceIndexSlot &slot = index->slots[i];
    if (slot.hash == hash && strcmp(slot.name, name) == 0 && strcmp(slot.url, url) == 0)
      return &slot;
  }
  return nullptr;
}

const char *text_at(const ServiceTableView &table, int32_t row, size_t offset) {
  const char *text;
  memcpy(&text, static_cast<const char *>(table.first_row) + row * table.row_size + offset,
         sizeof text);
  return text;
}

// True when the rows the index covers are still the first rows of table,
// which holds at least as many.
bool fits_start(const ServiceIndex *index, const ServiceTableView &table) {
  int32_t last = index->rows - 1;
  if (last < 0) return true;
  return text_at(table, last, table.name_offset) == index->last_name &&
         text_at(table, last, table.url_offset) == index->last_url;
}

}  // namespace

int32_t service_index_find(const ServiceIndex *index, const char *name, const char *url) {
  if (!name) name = "";
  if (!url) url = "";
  const ServiceIndexSlot *slot = find_slot(index, pair_hash(name, url), name, url);
  return slot ? slot->row : -1;
}

bool service_index_add(ServiceIndex *index, const char *name, const char *url, Failure *err) {
  int32_t row = index->rows++;
  index->last_name = name;
  index->last_url = url;
  if (!name) name = "";
  if (!url) url = "";
  uint64_t hash = pair_hash(name, url);
  if (find_slot(index, hash, name, url)) return true;
  if ((index->used + 1) * 2 > index->capacity && !grow(index, err)) return false;
  insert_slot(index->slots, index->capacity, {hash, row, name, url});
  index->used++;
  return true;
}

bool service_index_current(const ServiceIndex *index, const ServiceTableView &table) {
  return index->rows == table.rows && fits_start(index, table);
}

bool service_index_sync(ServiceIndex *index, const ServiceTableView &table, Failure *err) {
  if (index->rows > table.rows || !fits_start(index, table)) service_index_free(index);
  for (int32_t row = index->rows; row < table.rows; row++)
    if (!service_index_add(index, text_at(table, row, table.name_offset),
                           text_at(table, row, table.url_offset), err))
      return false;
  return true;
}

void service_index_free(ServiceIndex *index) {
  free(index->slots);
  *index = ServiceIndex{};
}
