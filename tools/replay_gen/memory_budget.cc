#include "tools/replay_gen/memory_budget.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

namespace {

// The number a file holds on its first line, or false ("max", nothing).
bool read_number_file(const std::string &path, uint64_t *value) {
  FILE *fp = fopen(path.c_str(), "re");
  if (!fp) return false;
  unsigned long long v;
  bool ok = fscanf(fp, "%llu", &v) == 1;
  fclose(fp);
  if (ok) *value = v;
  return ok;
}

uint64_t mem_available() {
  FILE *fp = fopen("/proc/meminfo", "re");
  if (!fp) return 0;
  char line[256];
  uint64_t kb = 0;
  while (fgets(line, sizeof line, fp)) {
    unsigned long long v;
    if (sscanf(line, "MemAvailable: %llu kB", &v) == 1) {
      kb = v;
      break;
    }
  }
  fclose(fp);
  return kb * 1024;
}

}  // namespace

uint64_t cgroup_room(const char *self_cgroup, const std::string &root) {
  FILE *fp = fopen(self_cgroup, "re");
  if (!fp) return UINT64_MAX;
  char *line = nullptr;  // whole lines, however long
  size_t cap = 0;
  std::string path;
  while (getline(&line, &cap, fp) > 0) {
    if (strncmp(line, "0::", 3) == 0) {
      path = line + 3;
      if (!path.empty() && path.back() == '\n') path.pop_back();
      break;
    }
  }
  free(line);
  fclose(fp);
  uint64_t room = UINT64_MAX;
  for (;;) {
    std::string dir = root + (path == "/" ? std::string() : path);
    uint64_t max, current = 0;
    if (read_number_file(dir + "/memory.max", &max)) {
      read_number_file(dir + "/memory.current", &current);
      room = std::min(room, max > current ? max - current : 0);
    }
    if (path.empty() || path == "/") break;
    size_t slash = path.find_last_of('/');
    path.erase(slash == 0 ? 1 : slash);
  }
  return room;
}

bool parse_memory_size(const char *text, uint64_t *bytes) {
  const char *p = text;
  if (*p < '0' || *p > '9') return false;
  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    if (value > (UINT64_MAX - static_cast<uint64_t>(*p - '0')) / 10) return false;
    value = value * 10 + static_cast<uint64_t>(*p - '0');
  }
  int shift = 0;
  if (*p) {
    const char *units = "KMGT";
    const char *unit = strchr(units, *p >= 'a' ? *p - 'a' + 'A' : *p);
    if (!unit || p[1]) return false;
    shift = 10 * static_cast<int>(unit - units + 1);
  }
  if (shift && value > (UINT64_MAX >> shift)) return false;
  *bytes = value << shift;
  return true;
}

uint64_t available_memory_bytes() {
  uint64_t avail = mem_available();
  uint64_t room = cgroup_room("/proc/self/cgroup", "/sys/fs/cgroup");
  if (avail == 0) return room == UINT64_MAX ? 0 : room;
  return std::min(avail, room);
}

void choose_memory_budget(RunState &run) {
  char size[32];
  if (run.config.memory_limit) {
    run.spill.budget = run.config.memory_limit;
    format_size(run.spill.budget, size, sizeof size);
    if (run.log.debug_level)
      debug_log(run.log, 1, "memory_budget", "Memory budget %s (MEMORY_LIMIT)", size);
    return;
  }
  uint64_t avail = available_memory_bytes();
  run.spill.budget = avail ? std::max(avail / 2, kMinMemoryLimit) : uint64_t{1} << 30;
  format_size(run.spill.budget, size, sizeof size);
  if (!run.log.debug_level) return;
  if (avail) {
    char avail_text[32];
    format_size(avail, avail_text, sizeof avail_text);
    debug_log(run.log, 1, "memory_budget", "Memory budget %s (half of the %s available at start)",
              size, avail_text);
  } else {
    debug_log(run.log, 1, "memory_budget", "Memory budget %s (the memory available is unknown)",
              size);
  }
}

uint64_t requests_within_budget(const RunState &run) {
  return run.spill.budget / kInMemoryBytesPerRequest;
}

void format_size(uint64_t bytes, char *buf, size_t room) {
  static const char *const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) {
    snprintf(buf, room, "%lu bytes", static_cast<unsigned long>(bytes));
    return;
  }
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 5) {
    value /= 1024;
    unit++;
  }
  snprintf(buf, room, "%.1f %s", value, kUnits[unit]);
}
