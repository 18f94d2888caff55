// A hashed index over a table of (service name, URL) pairs, so that a pair is
// found in time that does not grow with the table. Rows are added in
// ascending order and a pair already indexed is not added again, so a lookup
// gives the lowest row holding the pair, as a scan from row 0 would.
//
// A missing name or URL (a null pointer) is indexed as the empty text.
//
// The index keeps the pointers to each row's name and URL, not copies: the
// texts must stay where they are, unchanged, while the index is in use.
#ifndef VT_REPLAY_GEN_SERVICE_INDEX_H_
#define VT_REPLAY_GEN_SERVICE_INDEX_H_

#include <stddef.h>
#include <stdint.h>

#include "tools/replay_gen/failure.h"

struct ServiceIndexSlot {
  uint64_t hash;  // 0: empty slot
  int32_t row;
  const char *name;
  const char *url;
};

// All zero is the empty index.
struct ServiceIndex {
  ServiceIndexSlot *slots;
  size_t capacity;  // a power of two, or 0
  size_t used;
  int32_t rows;  // rows 0 .. rows - 1 have been added
  // Name and URL of row rows - 1, to tell whether the table still holds the
  // rows the index was built over.
  const char *last_name;
  const char *last_url;
};

// Lowest row whose name and URL equal the given ones, or -1.
int32_t service_index_find(const ServiceIndex *index, const char *name, const char *url);

// Adds row index->rows with the given name and URL (unless an earlier row
// holds the pair) and makes rows one more; false, with *err, when the index
// cannot grow.
bool service_index_add(ServiceIndex *index, const char *name, const char *url, Failure *err);

// Where the name and URL pointers (char *) of each row of a table of
// structs are.
struct ServiceTableView {
  const void *first_row;
  size_t row_size;
  size_t name_offset;
  size_t url_offset;
  int32_t rows;
};

// True when the index covers exactly the rows of table (judged by the row
// count and the last row's name and URL pointers), so that a lookup needs no
// scan.
bool service_index_current(const ServiceIndex *index, const ServiceTableView &table);

// Adds the rows of table that the index lacks; an index that does not fit the
// table's start (fewer rows, or another last row) is built anew.
bool service_index_sync(ServiceIndex *index, const ServiceTableView &table, Failure *err);

// Releases the slots; the index is empty afterwards.
void service_index_free(ServiceIndex *index);

#endif  // VT_REPLAY_GEN_SERVICE_INDEX_H_
