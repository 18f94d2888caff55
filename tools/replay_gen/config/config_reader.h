// The configuration file and the replay directory.
#ifndef VT_REPLAY_GEN_CONFIG_CONFIG_READER_H_
#define VT_REPLAY_GEN_CONFIG_CONFIG_READER_H_

#include <string>

// Room of one configuration line: longer lines are read in pieces, each
// taken as a line of its own.
constexpr int kConfigLineBufSize = 102401;
// Fields of one configuration line, the keyword included.
constexpr int kMaxConfigFields = 100;

// Reads the whole file and sets the run-wide configuration values; every
// refused line ends the run. Under -f an existing replay directory is left
// for complete_replay_dir to remove once the configuration is validated.
void read_config_file_new(const char *config_file_name);
// Refuses a configuration without replay directory, script or scenario.
void validate_config_file_data();

// Applies one configuration line (without its line end); changes the line.
void apply_config_line(char *line);
// Applies one line split into fields (at most kMaxConfigFields), field 0
// being the keyword; lines of unknown keywords are ignored.
void apply_config_fields(int num, char **field);

// The i-th keyword of the configuration file (0, 1, ...), or null past the
// last one.
const char *config_keyword_name(int i);
// Whether word is one of them.
bool is_config_keyword(const char *word);
// The keyword nearest to word (by edits, case aside), or "" when none is
// near enough.
std::string nearest_config_keyword(const char *word);

// The accumulated texts: each call appends one value and its line end.
void set_req_top_line(const char *top_line);
void set_http_header(const char *header_line);
void set_scenario_keyword(const char *kw_line);

// Returns only when name has the form project/subproject/name; type is
// "Script" or "Scenario".
void proj_subproj_script_scenario_validation(const char *scen_script_name_with_proj,
                                             const char *type);

// A REPLAY_PERIOD line: num fields, the keyword first.
void set_replay_period(int num, char **field);

// Stores the replay directory, creates it empty and locks it. An existing
// one is refused, or under -f locked and removed by complete_replay_dir.
void set_replay_dir(const char *in_replay_dir);
// Creates the new directory dir_name (its parents as needed) and locks it;
// false when something is there already. name is the kind of directory in
// messages ("Replay").
bool create_dir(const char *name, const char *dir_name);
// Removes a directory through the shell.
void delete_dir(const char *name, const char *dir_name);

#endif  // VT_REPLAY_GEN_CONFIG_CONFIG_READER_H_
