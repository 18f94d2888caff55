#include "tools/replay_gen/output/active_sessions.h"

#include <algorithm>

namespace {

constexpr size_t kFirstSlots = 16;

size_t home_slot(const ActiveSessions &t, uint64_t key) {
  // Keys are request numbers; a multiplicative hash spreads runs of them.
  return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & (t.slots.size() - 1);
}

void insert_slot(ActiveSessions *t, const ActiveSession &s) {
  size_t mask = t->slots.size() - 1;
  size_t i = home_slot(*t, s.key);
  while (t->slots[i].key != kNoSession) i = (i + 1) & mask;
  t->slots[i] = s;
}

void grow(ActiveSessions *t) {
  std::vector<ActiveSession> old;
  old.swap(t->slots);
  t->slots.assign(std::max(kFirstSlots, old.size() * 2), ActiveSession{kNoSession, 0, 0, 0, 0});
  for (const ActiveSession &s : old)
    if (s.key != kNoSession) insert_slot(t, s);
}

size_t find_slot(const ActiveSessions &t, uint64_t key) {
  if (t.slots.empty()) return SIZE_MAX;
  size_t mask = t.slots.size() - 1;
  for (size_t i = home_slot(t, key);; i = (i + 1) & mask) {
    if (t.slots[i].key == key) return i;
    if (t.slots[i].key == kNoSession) return SIZE_MAX;
  }
}

// Removes the entry at slot i, moving later entries of its probe run back
// so that every entry stays reachable from its home slot.
void erase_slot(ActiveSessions *t, size_t i) {
  size_t mask = t->slots.size() - 1;
  size_t hole = i;
  for (size_t j = (i + 1) & mask; t->slots[j].key != kNoSession; j = (j + 1) & mask) {
    size_t home = home_slot(*t, t->slots[j].key);
    // The entry at j may fill the hole when its home is not in (hole, j].
    bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
    if (movable) {
      t->slots[hole] = t->slots[j];
      hole = j;
    }
  }
  t->slots[hole].key = kNoSession;
  t->count--;
}

}  // namespace

void add_session(ActiveSessions *t, const ActiveSession &s) {
  if ((t->count + 1) * 2 > t->slots.size()) grow(t);
  insert_slot(t, s);
  t->count++;
  if (t->first > 0 && t->first * 2 >= t->order.size()) {
    t->order.erase(t->order.begin(), t->order.begin() + static_cast<ptrdiff_t>(t->first));
    t->first = 0;
  }
  t->order.push_back(s.key);
}

ActiveSession *find_session(ActiveSessions *t, uint64_t key) {
  size_t i = find_slot(*t, key);
  return i == SIZE_MAX ? nullptr : &t->slots[i];
}

void drop_sessions_before(ActiveSessions *t, uint64_t now, uint64_t window) {
  while (t->first < t->order.size()) {
    size_t i = find_slot(*t, t->order[t->first]);
    if (now - t->slots[i].start < window) return;
    erase_slot(t, i);
    t->first++;
  }
}

uint64_t active_sessions_bytes(const ActiveSessions &t) {
  return t.slots.capacity() * sizeof(ActiveSession) + t.order.capacity() * sizeof(uint64_t);
}
