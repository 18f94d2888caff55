// The checks of preview that the tool itself does not make: warnings on the
// configuration text, and the problems a run meets only at its end.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "base/core/suite_commands.h"
#include "tools/package/nearest_word.h"
#include "tools/package/preview.h"
#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/config/replay_dir.h"
#include "tools/replay_gen/config/replay_lock.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/run_state.h"

namespace {

std::string upper(std::string s) {
  for (char &c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

bool is_keyword(const std::string &word) {
  for (int i = 0; const char *k = config_keyword_name(i); i++)
    if (word == k) return true;
  return false;
}

// The three keywords known by how the line begins.
bool starts_with_prefix_keyword(const std::string &line) {
  for (const char *k : {"INPUT_DIR", "HOST_HEADER", "MSG_COUNT_PER_FILE"})
    if (line.compare(0, strlen(k), k) == 0) return true;
  return false;
}

// The fields of a line as the tool splits it: runs of "|" are one separator.
std::vector<std::string> fields_of(const std::string &line) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && line[at] == '|') at++;
    if (at >= line.size()) break;
    size_t end = line.find('|', at);
    if (end == std::string::npos) end = line.size();
    out.push_back(line.substr(at, end - at));
    at = end;
  }
  return out;
}

std::string local_time_text(time_t t) {
  struct tm tm;
  char buf[64];
  localtime_r(&t, &tm);
  strftime(buf, sizeof buf, "%m/%d/%Y %H:%M:%S", &tm);
  return buf;
}

// A REPLAY_PERIOD bound of the form mm/dd/yyyy HH:MM:SS whose first number
// cannot be a month while the second can: day and month look swapped.
void check_period_bound(const std::string &where, const char *which, const std::string &text,
                        std::vector<std::string> *out) {
  int month, day, year, hour, minute, second;
  if (text == "NA") return;
  if (sscanf(text.c_str(), "%d/%d/%d %d:%d:%d", &month, &day, &year, &hour, &minute, &second) != 6)
    return;
  if (month <= 12 || day > 12) return;
  struct tm tm = {};
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_year = year - 1900;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  time_t t = mktime(&tm);
  out->push_back(where + ": REPLAY_PERIOD " + which + " " + text +
                 " looks like day/month; the month comes first, so it is read as " +
                 local_time_text(t));
}

// s, m:s, h:m:s or h:m:s.ms, every part of digits.
bool is_duration(const std::string &text) {
  int parts = 0;
  size_t at = 0;
  for (;;) {
    size_t digits = 0;
    while (at + digits < text.size() && isdigit(static_cast<unsigned char>(text[at + digits])))
      digits++;
    if (digits == 0) return false;
    parts++;
    at += digits;
    if (at == text.size()) return true;
    char sep = text[at++];
    if (sep == '.') break;
    if (sep != ':' || parts == 3) return false;
  }
  // The milliseconds, after h:m:s only.
  if (parts != 3 || at == text.size()) return false;
  return text.find_first_not_of("0123456789", at) == std::string::npos;
}

bool is_directory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string nearest_keyword(const std::string &word) {
  std::vector<std::string> keywords;
  for (int i = 0; const char *k = config_keyword_name(i); i++) keywords.push_back(k);
  // Case aside: the keywords are upper case.
  return nearest_word(upper(word), keywords);
}

std::vector<std::string> config_text_warnings(const std::vector<std::string> &lines) {
  std::vector<std::string> out;
  for (size_t n = 0; n < lines.size(); n++) {
    const std::string &line = lines[n];
    std::string where = "line " + std::to_string(n + 1);
    if (line.empty() || line[0] == '#') continue;
    bool prefix = starts_with_prefix_keyword(line);
    std::vector<std::string> f = fields_of(line);
    if (f.empty()) continue;
    if (!prefix && !is_keyword(f[0])) {
      std::string shown = f[0];
      if (!shown.empty() && shown.back() == '\r') shown.pop_back();
      std::string near = nearest_keyword(shown);
      if (!near.empty() && near != shown)
        out.push_back(where + ": " + shown + ": did you mean " + near +
                      "? (the tool ignores the line)");
      else
        out.push_back(where + ": " + shown + " is no keyword; the tool ignores the line");
      continue;
    }
    if (prefix) continue;
    auto strip_cr = [](std::string s) {
      if (!s.empty() && s.back() == '\r') s.pop_back();
      return s;
    };
    if (f[0] == "REPLAY_PERIOD" && f.size() >= 3) {
      check_period_bound(where, "start", strip_cr(f[1]), &out);
      check_period_bound(where, "end", strip_cr(f[2]), &out);
    }
    if (f[0] == "NEW_USER_TIME" && f.size() >= 2 && !is_duration(strip_cr(f[1]))) {
      int32_t ms = get_time_from_format_local(f[1].c_str());
      out.push_back(where + ": NEW_USER_TIME " + strip_cr(f[1]) +
                    " is not a duration (s, m:s, h:m:s or h:m:s.ms); the tool reads it as " +
                    std::to_string(ms) + " ms");
    }
  }
  return out;
}

std::vector<std::string> late_run_problems(bool force) {
  std::vector<std::string> out;
  const RunConfig &c = run.config;
  if (!force && c.replay_dir[0] && is_directory(c.replay_dir))
    out.push_back(std::string("Replay directory ") + c.replay_dir +
                  " already exists (the run replaces it only with -f)");
  if (force && c.replay_dir[0]) {
    struct stat st;
    bool is_link =
        lstat(without_trailing_slashes(c.replay_dir).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    std::string refusal = is_link || is_directory(c.replay_dir)
                              ? replay_dir_removal_refusal(c.replay_dir, is_link)
                              : "";
    if (!refusal.empty())
      out.push_back(std::string("Replay directory ") + c.replay_dir + " " + refusal +
                    " (the run refuses to delete it under -f)");
  }
  const char *wdir = getenv("VT_WDIR");
  if (!wdir) {
    out.push_back(
        "VT_WDIR is not set: the run would stop after writing the package, before "
        "the scenario and the script");
  } else {
    std::string scenario = std::string(wdir) + "/scenarios/" + c.scenario_name;
    std::string scenario_dir = scenario.substr(0, scenario.rfind('/'));
    if (!is_directory(scenario_dir))
      out.push_back("scenario directory " + scenario_dir + " does not exist");
    else if (!force && exists(scenario))
      out.push_back("scenario " + scenario + " already exists (the run replaces it only with -f)");
    std::string script = std::string(wdir) + "/scripts/" + c.script_name;
    if (!force && is_directory(script))
      out.push_back("script " + script + " already exists (the run replaces it only with -f)");
  }
  std::vector<std::string> missing = vtlb_missing_suite_commands(c.script_type);
  if (!missing.empty()) out.push_back(vtlb_missing_suite_commands_text(missing));
  return out;
}
