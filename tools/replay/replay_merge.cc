#include "tools/replay/replay_merge.h"

#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "base/core/safe_file.h"
#include "tools/replay/replay_html.h"
#include "tools/replay/replay_report_read.h"

namespace {

// "a" when every report says a, else "a, b, ...".
std::string common(const std::vector<ReplayReportInfo> &infos, std::string ReplayReportInfo::*field) {
  std::vector<std::string> seen;
  for (const ReplayReportInfo &i : infos)
    if (std::find(seen.begin(), seen.end(), i.*field) == seen.end()) seen.push_back(i.*field);
  std::string out;
  for (const std::string &s : seen) out += (out.empty() ? "" : ", ") + s;
  return out;
}

}  // namespace

void merge_replay_reports(const std::vector<ReplayReportInfo> &infos,
                          const std::vector<ReplayStats> &stats,
                          const std::vector<std::string> &paths, ReplayReportInfo *info,
                          ReplayStats *s) {
  *info = ReplayReportInfo{};
  *s = ReplayStats{};
  if (infos.empty()) return;
  const ReplayReportInfo &first = infos[0];
  info->dir = common(infos, &ReplayReportInfo::dir);
  info->target = common(infos, &ReplayReportInfo::target);
  info->command = "vt_replay merge";
  for (const std::string &p : paths) info->command += " " + p;
  info->speed = first.speed;
  info->ok_status = first.ok_status;
  info->tls_verified = true;
  info->rewrites = first.rewrites;
  info->merged_from = paths;
  int64_t start = 0;
  for (const ReplayStats &st : stats)
    if (st.start_unix_us > 0 && (start == 0 || st.start_unix_us < start)) start = st.start_unix_us;
  s->start_unix_us = start;
  s->timeline.columns.clear();
  for (size_t r = 0; r < infos.size(); r++) {
    const ReplayReportInfo &in = infos[r];
    const ReplayStats &st = stats[r];
    if (in.tls) {
      info->tls = true;
      info->tls_verified = info->tls_verified && in.tls_verified;
      if (info->tls_name.empty()) info->tls_name = in.tls_name;
    }
    if (info->capture_start_ms < 0) info->capture_start_ms = in.capture_start_ms;
    for (const auto &[page, name] : in.page_names) info->page_names.emplace(page, name);
    for (const ReplayThreshold &t : in.threshold_list) {
      bool known = false;
      for (const ReplayThreshold &k : info->threshold_list) known = known || k.text == t.text;
      if (!known) info->threshold_list.push_back(t);
    }
    // Reports line up on the system's clock at their starts.
    uint64_t shift_us = st.start_unix_us > start && start > 0
                            ? static_cast<uint64_t>(st.start_unix_us - start)
                            : 0;
    merge_replay_stats(s, st, shift_us / 1000);
    double shift_s = static_cast<double>(shift_us) / 1e6;
    s->elapsed_s = std::max(s->elapsed_s, shift_s + st.elapsed_s);
    if (st.planned_span_s > 0)
      s->planned_span_s = std::max(s->planned_span_s, shift_s + st.planned_span_s);
    if (st.send_span_s > 0) s->send_span_s = std::max(s->send_span_s, shift_s + st.send_span_s);
  }
  if (!info->tls) info->tls_verified = false;
  info->thresholds = check_replay_thresholds(info->threshold_list, *s);
}

void print_replay_merge_usage(FILE *out) {
  fprintf(out,
          "usage: vt_replay merge REPORT.json ... [--json FILE] [--html FILE]\n"
          "\n"
          "Adds up the JSON reports of vt_replay --json (shards of one package run with\n"
          "--shard I/N, or any runs) into the report of the whole, printed as vt_replay\n"
          "prints its own: counts add, the percentiles come from the merged histograms\n"
          "(within 0.4%%), the timelines line up on the reports' starts, and the\n"
          "reports' thresholds are checked against the whole.\n"
          "\n"
          "  --json FILE   also write the merged report as JSON into FILE (new file)\n"
          "  --html FILE   the page of the whole run (new file)\n"
          "  --help\n"
          "\n"
          "Exit status: 0 passed, 1 a report that cannot be read or an output not\n"
          "written, 2 a usage error, 3 a threshold crossed.\n");
}

int replay_merge_main(int argc, char **argv) {
  std::vector<std::string> paths;
  std::string json_path, html_path;
  auto usage = [](const std::string &what) {
    fprintf(stderr, "vt_replay merge: %s\n", what.c_str());
    print_replay_merge_usage(stderr);
    return 2;
  };
  for (int i = 0; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      print_replay_merge_usage(stdout);
      return 0;
    }
    if (arg == "--json" || arg == "--html" || arg.rfind("--json=", 0) == 0 ||
        arg.rfind("--html=", 0) == 0) {
      std::string name = arg.substr(0, 6), value;
      if (arg.size() > 6) {
        value = arg.substr(7);
      } else if (i + 1 < argc) {
        value = argv[++i];
      }
      if (value.empty()) return usage(name + " needs a file name");
      (name == "--json" ? json_path : html_path) = value;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage("unknown option " + arg);
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty()) return usage("no report given");
  if (!json_path.empty() && json_path == html_path)
    return usage("--json and --html name the same file " + json_path);
  struct stat st;
  for (const std::string *out : {&json_path, &html_path})
    if (!out->empty() && lstat(out->c_str(), &st) == 0) {
      fprintf(stderr, "vt_replay merge: %s exists already; the merged report goes into a new file\n",
              out->c_str());
      return 1;
    }
  std::vector<ReplayReportInfo> infos(paths.size());
  std::vector<ReplayStats> stats(paths.size());
  std::string error;
  for (size_t r = 0; r < paths.size(); r++) {
    if (!read_replay_report(paths[r], &infos[r], &stats[r], &error)) {
      fprintf(stderr, "vt_replay merge: %s\n", error.c_str());
      return 1;
    }
  }
  // The same worker in two reports is counted twice: a shard given twice, or
  // runs of other packages.
  std::set<int> seen;
  for (size_t r = 0; r < paths.size(); r++)
    for (const ReplayWorkerStats &w : stats[r].workers)
      if (!seen.insert(w.number).second)
        fprintf(stderr, "vt_replay merge: note: worker %d is in more than one report (%s); its "
                        "counts add up\n",
                w.number, paths[r].c_str());
  ReplayReportInfo info;
  ReplayStats merged;
  merge_replay_reports(infos, stats, paths, &info, &merged);
  print_replay_report(stdout, info, merged);
  fflush(stdout);
  if (!json_path.empty() &&
      !vtlb_write_new_file(json_path, replay_report_json(info, merged), &error)) {
    fprintf(stderr, "vt_replay merge: --json: %s\n", error.c_str());
    return 1;
  }
  if (!html_path.empty() &&
      !vtlb_write_new_file(html_path, render_replay_html(info, merged, info.dir), &error)) {
    fprintf(stderr, "vt_replay merge: --html: %s\n", error.c_str());
    return 1;
  }
  return replay_passed(info) ? 0 : 3;
}
