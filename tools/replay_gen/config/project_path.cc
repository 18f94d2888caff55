// SCRIPT_NAME and SCENARIO_NAME name a project, a subproject and a name.
#include <string.h>

#include <initializer_list>
#include <string>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"

bool proj_subproj_script_scenario_validation(const RunState &run,
                                             const char *scen_script_name_with_proj,
                                             const char *type, Failure *err) {
  constexpr char kFname[] = "proj_subproj_script_scenario_validation";
  if (scen_script_name_with_proj[0] == '/')
    return fail(err, kFname, "%s path:'%s' can not be started with '/'", type,
                scen_script_name_with_proj);
  std::string copy = scen_script_name_with_proj;
  char *field[4];
  // Runs of "/" separate like one; a trailing "/" adds nothing.
  if (get_tokens_local(run.log, copy.data(), field, "/", 4) != 3)
    return fail(err, kFname,
                "%s in config file [%s] is not in correct format. It should be in "
                "project/subproject/name format.",
                type, scen_script_name_with_proj);
  // The parts become directories under VT_WDIR: "." and ".." would lead out
  // of the project tree (runs of "/" count as one, so no part is empty).
  for (char *part : {field[0], field[1], field[2]}) {
    if (part[0] != '\0' && strcmp(part, ".") != 0 && strcmp(part, "..") != 0) continue;
    return fail(err, kFname,
                "%s at line %d of the configuration has the part '%s' in '%s'; a part may not be "
                "empty, '.' or '..'.",
                strcmp(type, "Script") == 0 ? "SCRIPT_NAME" : "SCENARIO_NAME",
                run.config.current_line_num, part, scen_script_name_with_proj);
  }
  if (run.log.debug_level) {
    debug_log(run.log, 2, kFname, "The value of field[0], field[1], field[2] = %s %s %s", field[0],
              field[1], field[2]);
    debug_log(run.log, 1, kFname, "After validation project_name = %s, subproject_name = %s\n",
              field[0], field[1]);
  }
  return true;
}
