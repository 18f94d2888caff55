// The memory budget of a run: the most that the request records (and, when
// they do not fit, the buffers of their sorted runs) may take. MEMORY_LIMIT
// sets it; by default it is half of the memory the system reports available
// when the run starts. Fixed buffers of the loader and writer threads come on
// top of it.
#ifndef VT_REPLAY_GEN_MEMORY_BUDGET_H_
#define VT_REPLAY_GEN_MEMORY_BUDGET_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

// Bounds of MEMORY_LIMIT.
constexpr uint64_t kMinMemoryLimit = 4096;
constexpr uint64_t kMaxMemoryLimit = uint64_t{1} << 60;

// What the whole of Steps 2 to 4 takes per request when everything stays in
// memory (the record, its key during Step 3, its row in its user's list and
// its share of the users, with the allocator's overhead), measured with one
// user per request, the most there can be. A run whose requests times this
// exceed the budget spills.
constexpr uint64_t kInMemoryBytesPerRequest = 200;

// Reads a size: a whole number of bytes, or one followed by K, M, G or T
// (either case) for units of 1024, 1024^2, ... False for any other text and
// for a size that does not fit 64 bits.
bool parse_memory_size(const char *text, uint64_t *bytes);

// The memory the system reports available now (MemAvailable), less what the
// memory limits of the process's control groups leave; 0 when unknown.
uint64_t available_memory_bytes();

// The least room any control group of the process leaves (its memory.max
// less its memory.current), from the group named on the "0::" line of
// self_cgroup up to the root of the groups' tree at root; UINT64_MAX when
// none sets a limit.
uint64_t cgroup_room(const char *self_cgroup, const std::string &root);

struct RunState;

// Sets run.spill.budget: MEMORY_LIMIT when configured, else half of what is
// available now (1 GiB when that is unknown). Writes a debug line of level 1
// saying which.
void choose_memory_budget(RunState &run);

// The requests the budget holds in memory.
uint64_t requests_within_budget(const RunState &run);

// "512.0 MiB", "3.2 GiB", "900 bytes" into buf.
void format_size(uint64_t bytes, char *buf, size_t room);

#endif  // VT_REPLAY_GEN_MEMORY_BUDGET_H_
