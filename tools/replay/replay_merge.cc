#include "tools/replay/replay_merge.h"

#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "base/core/command_line.h"
#include "base/figures/replay_html.h"
#include "tools/replay/replay_outputs.h"
#include "tools/replay/replay_report_read.h"

namespace {

// "a" when every report says a, else "a, b, ...".
std::string common(const std::vector<ReplayReportInfo> &infos,
                   std::string ReplayReportInfo::*field) {
  std::vector<std::string> seen;
  for (const ReplayReportInfo &i : infos)
    if (std::find(seen.begin(), seen.end(), i.*field) == seen.end()) seen.push_back(i.*field);
  std::string out;
  for (const std::string &s : seen) out += (out.empty() ? "" : ", ") + s;
  return out;
}

}  // namespace

bool merge_replay_reports(const std::vector<ReplayReportInfo> &infos,
                          const std::vector<ReplayStats> &stats,
                          const std::vector<std::string> &paths, ReplayReportInfo *info,
                          ReplayStats *s, std::string *error) {
  *info = ReplayReportInfo{};
  *s = ReplayStats{};
  if (infos.empty()) return true;
  const ReplayReportInfo &first = infos[0];
  info->dir = common(infos, &ReplayReportInfo::dir);
  info->target = common(infos, &ReplayReportInfo::target);
  info->command = "vt_replay merge";
  for (const std::string &p : paths) info->command += " " + p;
  info->speed = first.speed;
  info->mode = first.mode;
  info->ok_status = first.ok_status;
  info->tls_verified = true;
  info->rewrites = first.rewrites;
  info->path_rules = first.path_rules;
  info->merged_from = paths;
  info->package_id = common(infos, &ReplayReportInfo::package_id);
  int64_t start = 0;
  for (const ReplayStats &st : stats)
    if (st.start_unix_us > 0 && (start == 0 || st.start_unix_us < start)) start = st.start_unix_us;
  s->start_unix_us = start;
  s->timeline.columns.clear();
  for (size_t r = 0; r < infos.size(); r++) {
    const ReplayReportInfo &in = infos[r];
    const ReplayStats &st = stats[r];
    std::string what;
    if (!replay_stats_fit(*s, st, &what)) {
      *error = "adding " + paths[r] + ": the " + what + " of the reports add up beyond 2^64 - 1";
      return false;
    }
    if (in.tls) {
      info->tls = true;
      info->tls_verified = info->tls_verified && in.tls_verified;
      if (info->tls_name.empty()) info->tls_name = in.tls_name;
    }
    if (info->capture_start_ms < 0) info->capture_start_ms = in.capture_start_ms;
    for (const auto &[page, name] : in.page_names) info->page_names.emplace(page, name);
    // Each threshold once; given explicitly by any report, it is no default.
    for (const ReplayThreshold &t : in.threshold_list) {
      auto known = std::find_if(info->threshold_list.begin(), info->threshold_list.end(),
                                [&t](const ReplayThreshold &k) { return k.text == t.text; });
      if (known == info->threshold_list.end())
        info->threshold_list.push_back(t);
      else
        known->by_default = known->by_default && t.by_default;
    }
    // Reports line up on the system's clock at their starts.
    uint64_t shift_us =
        st.start_unix_us > start && start > 0 ? static_cast<uint64_t>(st.start_unix_us - start) : 0;
    merge_replay_stats(s, st, shift_us / 1000);
    double shift_s = static_cast<double>(shift_us) / 1e6;
    s->elapsed_s = std::max(s->elapsed_s, shift_s + st.elapsed_s);
    if (st.planned_span_s > 0)
      s->planned_span_s = std::max(s->planned_span_s, shift_s + st.planned_span_s);
    if (st.send_span_s > 0) s->send_span_s = std::max(s->send_span_s, shift_s + st.send_span_s);
  }
  if (!info->tls) info->tls_verified = false;
  info->thresholds =
      check_replay_thresholds(replay_thresholds_with_default(info->threshold_list), *s);
  return true;
}

std::string replay_merge_refusal(const std::vector<ReplayReportInfo> &infos,
                                 const std::vector<ReplayStats> &stats,
                                 const std::vector<std::string> &paths, bool mixed_packages) {
  std::string why;
  for (size_t r = 0; r < infos.size(); r++)
    if (!check_replay_figures(stats[r], &why)) return paths[r] + ": " + why;
  std::vector<struct stat> files(paths.size());
  for (size_t r = 0; r < paths.size(); r++)
    if (stat(paths[r].c_str(), &files[r]) != 0) files[r] = {};
  for (size_t r = 1; r < infos.size(); r++) {
    for (size_t q = 0; q < r; q++) {
      const ReplayStats &a = stats[q], &b = stats[r];
      bool same_file = files[q].st_ino != 0 && files[q].st_dev == files[r].st_dev &&
                       files[q].st_ino == files[r].st_ino;
      bool same_run = a.start_unix_us == b.start_unix_us && a.elapsed_s == b.elapsed_s &&
                      infos[q].command == infos[r].command && infos[q].shard == infos[r].shard &&
                      a.counts.planned == b.counts.planned && a.counts.sent == b.counts.sent &&
                      a.counts.completed == b.counts.completed;
      if (same_file || same_run)
        return paths[r] + (same_file ? " is " : " is the report of ") + paths[q] +
               (same_file ? " given again" : " again (the same run)") +
               ": each report is added up once";
      // Runs in other modes planned other schedules: their times do not add up.
      if (infos[q].mode != infos[r].mode)
        return paths[q] + " (" + (infos[q].mode.empty() ? "no mode" : infos[q].mode) + ") and " +
               paths[r] + " (" + (infos[r].mode.empty() ? "no mode" : infos[r].mode) +
               ") are reports of runs in different modes: their schedules do not add up";
      const std::string &ida = infos[q].package_id, &idb = infos[r].package_id;
      if (!mixed_packages && !ida.empty() && !idb.empty() && ida != idb)
        return paths[q] + " and " + paths[r] + " are reports of different packages (" +
               ida.substr(0, 12) + "... and " + idb.substr(0, 12) +
               "...); --mixed-packages adds them up all the same, their page ids as one";
    }
  }
  return "";
}

void print_replay_merge_usage(FILE *out) {
  fprintf(out,
          "usage: vt_replay merge REPORT.json ... [--json FILE] [--html FILE]\n"
          "                       [--mixed-packages]\n"
          "\n"
          "Adds up the JSON reports of vt_replay --json (shards of one package run with\n"
          "--shard I/N, or any runs of it) into the report of the whole, printed as\n"
          "vt_replay prints its own: counts add, the percentiles come from the merged\n"
          "histograms (within 0.4%%), the timelines line up on the reports' starts, and\n"
          "the reports' thresholds are checked against the whole. A report given twice,\n"
          "figures that do not hold together or add up beyond 64 bits, and reports of\n"
          "different packages are refused.\n"
          "\n"
          "  --json FILE        also write the merged report as JSON into FILE (new file)\n"
          "  --html FILE        the page of the whole run (new file)\n"
          "  --mixed-packages   add up reports of different packages all the same\n"
          "  --help\n"
          "\n"
          "Exit status: 0 passed, 1 a report that cannot be read or is refused, or an\n"
          "output not written, 2 a usage error, 3 a threshold crossed (given none: a\n"
          "request failed).\n");
}

int replay_merge_main(int argc, char **argv) {
  enum { kJson = 1000, kHtml, kMixed };
  static const option kOptions[] = {{"json", required_argument, nullptr, kJson},
                                    {"html", required_argument, nullptr, kHtml},
                                    {"mixed-packages", no_argument, nullptr, kMixed},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  std::vector<std::string> paths;
  ReplayOutput json{"--json", "the merged report goes", ""};
  ReplayOutput html{"--html", "the merged report goes", ""};
  bool mixed = false, help = false;
  auto usage = [](const std::string &what) {
    fprintf(stderr, "vt_replay merge: %s\n", what.c_str());
    print_replay_merge_usage(stderr);
    return 2;
  };
  CommandLineError bad;
  bool read = vtlb_read_command_line(
      argc, argv, "h", kOptions,
      [&](int key, const char *value) {
        if (key == 'h') help = true;
        if (key == kMixed) mixed = true;
        if (key == kJson || key == kHtml) (key == kJson ? json : html).path = value;
        return !((key == kJson || key == kHtml) && !*value);
      },
      &paths, &bad);
  if (help) {
    print_replay_merge_usage(stdout);
    return 0;
  }
  if (!read)
    return usage(bad.fault == CommandLineFault::kUnknown ? "unknown option " + bad.option
                 : bad.fault == CommandLineFault::kTakesNoValue
                     ? bad.option + " takes no value"
                     : bad.option + " needs a file name");
  if (paths.empty()) return usage("no report given");
  if (!json.path.empty() && json.path == html.path)
    return usage("--json and --html name the same file " + json.path);
  std::vector<ReplayReportInfo> infos(paths.size());
  std::vector<ReplayStats> stats(paths.size());
  std::string error;
  for (size_t r = 0; r < paths.size(); r++) {
    if (!read_replay_report(paths[r], &infos[r], &stats[r], &error)) {
      fprintf(stderr, "vt_replay merge: %s\n", error.c_str());
      return 1;
    }
  }
  error = replay_merge_refusal(infos, stats, paths, mixed);
  ReplayReportInfo info;
  ReplayStats merged;
  if (error.empty()) merge_replay_reports(infos, stats, paths, &info, &merged, &error);
  if (!error.empty()) {
    fprintf(stderr, "vt_replay merge: %s\n", error.c_str());
    return 1;
  }
  // The same worker in two reports is counted twice: shards of other runs,
  // or other packages.
  std::set<int> seen;
  for (size_t r = 0; r < paths.size(); r++)
    for (const ReplayWorkerStats &w : stats[r].workers)
      if (!seen.insert(w.number).second)
        fprintf(stderr,
                "vt_replay merge: note: worker %d is in more than one report (%s); its "
                "counts add up\n",
                w.number, paths[r].c_str());
  const ReplayOutput *failed = nullptr;
  if (!make_replay_outputs({&json, &html}, &failed, &error)) {
    fprintf(stderr, "vt_replay merge: %s: %s\n", failed->option, error.c_str());
    return 1;
  }
  print_replay_report(stdout, info, merged);
  fflush(stdout);
  if (!json.path.empty() && !write_replay_output(&json, replay_report_json(info, merged), &error)) {
    drop_replay_output(&html);
    fprintf(stderr, "vt_replay merge: --json: %s\n", error.c_str());
    return 1;
  }
  if (!html.path.empty() &&
      !write_replay_output(&html, render_replay_html(info, merged, info.dir), &error)) {
    fprintf(stderr, "vt_replay merge: --html: %s\n", error.c_str());
    return 1;
  }
  return replay_passed(info) ? 0 : 3;
}
