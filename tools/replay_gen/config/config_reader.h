// The configuration file and the replay directory.
#ifndef VT_REPLAY_GEN_CONFIG_CONFIG_READER_H_
#define VT_REPLAY_GEN_CONFIG_CONFIG_READER_H_

#include <string>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Room of one configuration line: longer lines are read in pieces, each
// taken as a line of its own.
constexpr int kConfigLineBufSize = 102401;
// Fields of one configuration line, the keyword included.
constexpr int kMaxConfigFields = 100;

// Reads the whole file and sets the run's configuration values; false at
// the first refused line. Under -f an existing replay directory is left for
// complete_replay_dir to remove once the configuration is validated.
bool read_config_file_new(RunState &run, const char *config_file_name, Failure *err);
// Refuses a configuration without replay directory, script or scenario.
bool validate_config_file_data(const RunState &run, Failure *err);

// Applies one configuration line (without its line end); changes the line.
bool apply_config_line(RunState &run, char *line, Failure *err);
// Applies one line split into fields (at most kMaxConfigFields), field 0
// being a keyword.
bool apply_config_fields(RunState &run, int num, char **field, Failure *err);

// The i-th keyword of the configuration file (0, 1, ...), or null past the
// last one.
const char *config_keyword_name(int i);
// Whether word is one of them.
bool is_config_keyword(const char *word);
// The keyword nearest to word (by edits, case aside), or "" when none is
// near enough.
std::string nearest_config_keyword(const char *word);

// The accumulated texts: each call appends one value and its line end.
bool set_req_top_line(RunState &run, const char *top_line, Failure *err);
bool set_http_header(RunState &run, const char *header_line, Failure *err);
bool set_scenario_keyword(RunState &run, const char *kw_line, Failure *err);

// True when name has the form project/subproject/name; type is "Script" or
// "Scenario".
bool proj_subproj_script_scenario_validation(const RunState &run,
                                             const char *scen_script_name_with_proj,
                                             const char *type, Failure *err);

// A REPLAY_PERIOD line: num fields, the keyword first.
bool set_replay_period(RunState &run, int num, char **field, Failure *err);

// Stores the replay directory, creates it empty and locks it. An existing
// one is refused, or under -f locked and removed by complete_replay_dir. A
// dry run makes nothing: what the run would refuse becomes its problem.
bool set_replay_dir(RunState &run, const char *in_replay_dir, Failure *err);
// Creates the new directory dir_name (its parents as needed) and locks it;
// *made is false when something is there already. name is the kind of
// directory in messages ("Replay").
bool create_dir(RunState &run, const char *name, const char *dir_name, bool *made, Failure *err);
// Removes a directory through the shell.
bool delete_dir(const RunState &run, const char *name, const char *dir_name, Failure *err);

#endif  // VT_REPLAY_GEN_CONFIG_CONFIG_READER_H_
