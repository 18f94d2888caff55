// The index file "vt_index_<w>" of every worker: a header line, then one
// line per user of the worker in creation order,
//   <user_id, 9 digits at least>,vt_req_<w>{,<time>,<page_id>,<offset>,<size>}
// with "|<type>:<ts offset>:<ts size>" after a group when -p is given and the
// request has a creation timestamp. Offset and size locate the request's
// entry in vt_req_<w> byte for byte.
#ifndef VT_REPLAY_GEN_OUTPUT_INDEX_FILES_H_
#define VT_REPLAY_GEN_OUTPUT_INDEX_FILES_H_

#include <string>

#include "base/package/package_format.h"
#include "tools/replay_gen/run_state.h"

// Writes every worker's index file from the user list and consumes the list:
// each user is released once its line is written, and head is empty after.
// Each file's digest, size and request count go to run.manifest. An index
// file that cannot be made or written fails the run. A dry run writes
// nothing: it hands the users to run.options.planned_users.
bool write_vortan_index_file(RunState &run, Failure *err);

// Replaces *line with the index line of user, its final newline included.
void format_user_line(const RunState &run, const UserNode &user, std::string *line);

#endif  // VT_REPLAY_GEN_OUTPUT_INDEX_FILES_H_
