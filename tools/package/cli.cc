#include "tools/package/cli.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "base/core/command_line.h"
#include "base/core/nearest_word.h"
#include "base/core/safe_file.h"
#include "base/figures/replay_html.h"
#include "base/figures/replay_results.h"
#include "base/package/package_files.h"
#include "base/package/package_format.h"
#include "tools/package/package_check.h"
#include "tools/package/plot.h"
#include "tools/package/preview.h"
#include "tools/package/profile.h"
#include "tools/package/profile_report.h"

#ifndef VT_VERSION
#define VT_VERSION "unknown"
#endif

namespace {

constexpr const char *kProgramUsage =
    "usage: vt_package <command> [arguments]\n"
    "\n"
    "Looks into a replay package of vtu_replay_gen: before a run, what the logs will\n"
    "give; after it, the traffic the engine will replay.\n"
    "\n"
    "commands:\n"
    "  check DIR                            check that the index files of DIR locate\n"
    "                                       every entry of its request files\n"
    "  profile DIR [--json] [--bucket S]    the package's figures: size, duration,\n"
    "                                       rates, users, workers, pages, body sizes\n"
    "  plot DIR -o FILE.html [--force]      the same figures as one HTML page of charts\n"
    "  plot [DIR] --results FILE -o FILE.html\n"
    "                                       the page of a replay run from vt_replay's\n"
    "                                       results file\n"
    "  preview -i CONFIG [-f] [-u] [--json] what vtu_replay_gen -i CONFIG would make\n"
    "                                       and meet, writing nothing\n"
    "\n"
    "vt_package COMMAND --help describes a command. Exit status: 0 done, 1 problems\n"
    "found, 2 wrong use.\n";

constexpr const char *kCheckUsage =
    "usage: vt_package check DIR [--trust-foreign-files]\n"
    "\n"
    "Reads the index files vt_index_0, 1, ... of the replay directory DIR on their own\n"
    "and checks every request group against the worker's request file: its offset and\n"
    "size must cover one whole entry (request line, head lines, \"Content-Length: n\",\n"
    "an empty line, n bytes, a newline), and the entries must tile the request file.\n"
    "Names every file that is a link, no regular file, owned by another user than\n"
    "the directory's owner and the caller, or writable by others, and, with the\n"
    "package's manifest, every count, size and digest that differs from it.\n"
    "Prints one line per problem and a count line. Exit status 0 when the package is\n"
    "sound, 1 when not, 2 on wrong use.\n"
    "\n"
    "  --trust-foreign-files  accept files of other owners (a directory shared on\n"
    "                         purpose)\n";

constexpr const char *kProfileUsage =
    "usage: vt_package profile DIR [--json] [--bucket SECONDS] [--trust-foreign-files]\n"
    "\n"
    "The figures of the replay package in DIR, from its index files (and one entry\n"
    "head per page of its request files) and its error logs: workers, users,\n"
    "requests, bytes, duration, requests per second (mean and peak over buckets of\n"
    "SECONDS, default 1) and per minute, users active at once, per worker and per\n"
    "page counts, body sizes, rejected records by code.\n"
    "\n"
    "  --json            one JSON object instead of the table\n"
    "  --bucket SECONDS  bucket length in whole seconds (default 1)\n"
    "  --trust-foreign-files\n"
    "                    read files of other owners too\n"
    "\n"
    "A file that breaks the readers' rules (a link, no regular file, another\n"
    "owner's) is left out and named on standard error. Exit status 0, 1 when the\n"
    "package cannot be read or something was left out, 2 on wrong use.\n";

constexpr const char *kPlotUsage =
    "usage: vt_package plot DIR -o FILE.html [--force] [--bucket SECONDS]\n"
    "       vt_package plot [DIR] --results FILE ... -o FILE.html [--force]\n"
    "\n"
    "Writes one self-contained HTML page (inline SVG, nothing fetched) with the\n"
    "figures of `vt_package profile DIR` and charts of them: requests per second\n"
    "stacked by worker, users active at once, requests and bytes per worker, the\n"
    "page mix. FILE.html must not exist yet, unless --force is given.\n"
    "\n"
    "  -o FILE.html      the page to write; - writes it to standard output\n"
    "  --force           replace FILE.html if it exists (a link there is replaced,\n"
    "                    not followed)\n"
    "  --bucket SECONDS  bucket length in whole seconds (default 1)\n"
    "  --trust-foreign-files\n"
    "                    read files of other owners too\n"
    "  --results FILE    draw the page of a replay run instead: rates, latency,\n"
    "                    failures and lag over time, pages and workers, from the\n"
    "                    results file of vt_replay --results FILE (JSON lines or CSV;\n"
    "                    repeatable, for the files of shards); DIR, when given,\n"
    "                    names the pages by the services of its manifest\n"
    "\n"
    "Exit status 0, 1 when the package or a results file cannot be read or the page\n"
    "not written, 2 on wrong use.\n";

constexpr const char *kPreviewUsage =
    "usage: vt_package preview -i CONFIG [-f] [-u] [--json] [--bucket SECONDS]\n"
    "\n"
    "A dry run of vtu_replay_gen -i CONFIG that writes nothing at all: no replay\n"
    "directory, no /tmp file, no scenario, no script, no shell command. It reads the\n"
    "configuration with the tool's own reader, finds and parses the input files as\n"
    "the tool does, and reports the files found, records met, accepted and rejected\n"
    "by code, and the package the run would make (the figures of `vt_package\n"
    "profile`). It lists every problem the run would meet, also those the run only\n"
    "meets at its end, and warns of what the tool silently accepts.\n"
    "\n"
    "  -i CONFIG  the configuration file\n"
    "  -f         as the tool's -f: an existing replay directory, scenario or script\n"
    "             would be replaced\n"
    "  -u         as the tool's -u: page ids from the request URL\n"
    "  --json     one JSON object: the keys of `profile --json`, and records,\n"
    "             accepted, replay_dir, input_files, warnings, problems\n"
    "  --bucket SECONDS  bucket length of the rates in whole seconds (default 1)\n"
    "\n"
    "Exit status 0 when the run would succeed, 1 when it would fail (each reason on\n"
    "its own line), 2 on wrong use.\n";

// "vt_package[ COMMAND]: what[: arg]" and the usage, on standard error.
int usage_error(const char *usage, const char *what, const char *arg = nullptr) {
  const char *command = usage == kProgramUsage   ? ""
                        : usage == kCheckUsage   ? " check"
                        : usage == kProfileUsage ? " profile"
                        : usage == kPlotUsage    ? " plot"
                                                 : " preview";
  if (arg)
    fprintf(stderr, "vt_package%s: %s: %s\n", command, what, arg);
  else
    fprintf(stderr, "vt_package%s: %s\n", command, what);
  fputs(usage, stderr);
  return 2;
}

int print_help(const char *usage) {
  fputs(usage, stdout);
  return 0;
}

bool is_help(const char *arg) {
  return strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0;
}

enum { kBucket = 1000, kJson, kForce, kResults, kTrustForeign };

// The options every command knows.
constexpr option kHelpOption = {"help", no_argument, nullptr, 'h'};
constexpr option kTrustOption = {"trust-foreign-files", no_argument, nullptr, kTrustForeign};
constexpr option kEnd = {nullptr, 0, nullptr, 0};

// A refusal of a command's option: what is wrong, and the value when the
// message shows it.
struct Refusal {
  const char *what = nullptr;
  const char *arg = nullptr;
};

// Reads a command's arguments (argv[0] names the command) with its options;
// take(key, value) keeps a value or says why not. Returns -1 to go on, else
// the exit status: the usage printed for --help, or a usage error.
int read_command(int argc, char **argv, const char *usage, const char *shorts, const option *table,
                 const char *unknown,
                 const std::function<Refusal(int key, const char *value)> &take,
                 std::vector<std::string> *operands) {
  bool help = false;
  Refusal refused;
  CommandLineError bad;
  bool read = vtlb_read_command_line(
      argc, argv, shorts, table,
      [&](int key, const char *value) {
        if (key == 'h') return !(help = true);
        refused = take(key, value);
        return refused.what == nullptr;
      },
      operands, &bad);
  if (help) return print_help(usage);
  if (read) return -1;
  if (bad.fault == CommandLineFault::kRefused) return usage_error(usage, refused.what, refused.arg);
  if (bad.fault == CommandLineFault::kNeedsValue) {
    // The command's own message for the option without its value.
    int key = bad.option.size() == 2 ? bad.option[1] : 0;
    for (const option *o = table; o->name; o++)
      if (bad.option == std::string("--") + o->name) key = o->val;
    refused = take(key, nullptr);
    if (refused.what) return usage_error(usage, refused.what, refused.arg);
  }
  return usage_error(usage, unknown, bad.option.c_str());
}

// What the reader left out, one line each; the figures stand without it.
void note_left_out(const char *command, const Profile &p) {
  for (const std::string &problem : p.problems)
    fprintf(stderr, "vt_package %s: %s\n", command, problem.c_str());
}

// Writes text as path, replacing what is there: a new file beside it first,
// then renamed over it, so that a link at path is replaced, never followed,
// and a failed write leaves the old file whole.
bool replace_file(const std::string &path, const std::string &text, std::string *error) {
  std::string fresh = path + ".new-" + std::to_string(getpid());
  if (!vtlb_write_new_file(fresh, text, error)) return false;
  if (rename(fresh.c_str(), path.c_str()) != 0) {
    *error = "cannot replace " + path + ": " + strerror(errno);
    unlink(fresh.c_str());
    return false;
  }
  return true;
}

int run_check(int argc, char **argv) {
  static const option kOptions[] = {kTrustOption, kHelpOption, kEnd};
  bool trust_foreign = false;
  std::vector<std::string> operands;
  int status = read_command(
      argc, argv, kCheckUsage, "h", kOptions, "unknown option",
      [&](int key, const char *) {
        if (key == kTrustForeign) trust_foreign = true;
        return Refusal{};
      }, &operands);
  if (status >= 0) return status;
  if (operands.size() > 1) return usage_error(kCheckUsage, "one directory only");
  if (operands.empty()) return usage_error(kCheckUsage, "check needs a replay directory");
  const std::string &dir = operands[0];
  PackageSummary summary;
  std::vector<std::string> problems = check_replay_package(dir, &summary, trust_foreign);
  for (const std::string &p : problems) printf("check: %s\n", p.c_str());
  if (summary.manifest == ManifestState::kRead && summary.manifest_problems == 0)
    printf("check: %s: %d workers' request and index files match their sizes and digests\n",
           kManifestName, summary.workers);
  printf("check: %s: %d workers, %lu users, %lu requests, %zu problems\n", dir.c_str(),
         summary.workers, static_cast<unsigned long>(summary.users),
         static_cast<unsigned long>(summary.requests), problems.size());
  return problems.empty() ? 0 : 1;
}

// Options shared by profile and plot.
struct PackageArgs {
  std::string dir;
  std::string out;
  bool json = false;
  bool force = false;
  bool trust_foreign = false;
  uint64_t bucket_ms = 1000;
  std::vector<std::string> results;  // plot --results
};

int parse_package_args(int argc, char **argv, const char *usage, bool plot, PackageArgs *a) {
  static const option kProfileOptions[] = {{"bucket", required_argument, nullptr, kBucket},
                                           {"json", no_argument, nullptr, kJson},
                                           kTrustOption,
                                           kHelpOption,
                                           kEnd};
  static const option kPlotOptions[] = {{"bucket", required_argument, nullptr, kBucket},
                                        {"force", no_argument, nullptr, kForce},
                                        {"results", required_argument, nullptr, kResults},
                                        kTrustOption,
                                        kHelpOption,
                                        kEnd};
  std::vector<std::string> operands;
  int status = read_command(
      argc, argv, usage, plot ? "ho:" : "h", plot ? kPlotOptions : kProfileOptions,
      "unknown option",
      [a](int key, const char *value) {
        switch (key) {
          case kBucket:
            if (!value) return Refusal{"--bucket needs a number of seconds"};
            if (!parse_bucket_seconds(value, &a->bucket_ms))
              return Refusal{"--bucket takes whole seconds from 1 to 31536000", value};
            break;
          case kJson:
            a->json = true;
            break;
          case kTrustForeign:
            a->trust_foreign = true;
            break;
          case kForce:
            a->force = true;
            break;
          case kResults:
            if (!value || !*value) return Refusal{"--results needs a file name"};
            a->results.push_back(value);
            break;
          case 'o':
            if (!value || !*value) return Refusal{"-o needs a file name"};
            a->out = value;
            break;
        }
        return Refusal{};
      },
      &operands);
  if (status >= 0) return status;
  if (operands.size() > 1) return usage_error(usage, "one directory only");
  if (!operands.empty()) a->dir = operands[0];
  if (a->dir.empty() && a->results.empty())
    return usage_error(usage, "a replay directory is needed");
  if (plot && a->out.empty()) return usage_error(usage, "plot needs -o FILE.html");
  return -1;
}

int run_profile(int argc, char **argv) {
  PackageArgs a;
  int status = parse_package_args(argc, argv, kProfileUsage, false, &a);
  if (status >= 0) return status;
  Profile p;
  std::string error;
  if (!read_package_profile(a.dir, a.bucket_ms, a.trust_foreign, &p, &error)) {
    fprintf(stderr, "vt_package profile: %s\n", error.c_str());
    return 1;
  }
  note_left_out("profile", p);
  if (a.json)
    printf("{%s}\n", format_profile_json_members(p).c_str());
  else
    fputs(format_profile_text(p, "profile: " + a.dir).c_str(), stdout);
  return p.problems.empty() ? 0 : 1;
}

// The page of a replay run from its results files; names from the manifest
// of dir, when given.
bool results_page(const PackageArgs &a, std::string *html, std::string *summary,
                  std::string *error) {
  ReplayStats stats;
  ReplayReportInfo info;
  info.ok_status.text = "as the results say";
  std::string title = "results:";
  for (const std::string &path : a.results) {
    if (!read_results_file(path, &stats, error)) return false;
    title += " " + path;
  }
  if (!a.dir.empty()) {
    PackageDir d;
    Manifest m;
    if (!open_package_dir(a.dir, a.trust_foreign, &d, error)) return false;
    ManifestState state = read_package_manifest(d, &m, error);
    close_package_dir(&d);
    if (state == ManifestState::kUnreadable) return (*error = a.dir + "/" + *error), false;
    if (state == ManifestState::kRead) add_manifest_to_report(m, &info);
    info.dir = a.dir;
    title += " (" + a.dir + ")";
  }
  *html = render_replay_html(info, stats, title);
  *summary = format_count(stats.counts.planned) + " requests of " +
             std::to_string(stats.workers.size()) + " workers, from " +
             std::to_string(a.results.size()) + " results file" +
             (a.results.size() == 1 ? "" : "s");
  return true;
}

int run_plot(int argc, char **argv) {
  PackageArgs a;
  int status = parse_package_args(argc, argv, kPlotUsage, true, &a);
  if (status >= 0) return status;
  Profile p;
  std::string error, html, summary;
  if (!a.results.empty()) {
    if (!results_page(a, &html, &summary, &error)) {
      fprintf(stderr, "vt_package plot: %s\n", error.c_str());
      return 1;
    }
  } else {
    if (!read_package_profile(a.dir, a.bucket_ms, a.trust_foreign, &p, &error)) {
      fprintf(stderr, "vt_package plot: %s\n", error.c_str());
      return 1;
    }
    note_left_out("plot", p);
    html = render_plot_html(p, a.dir);
    summary = format_count(p.requests) + " requests of " + std::to_string(p.workers) + " workers";
  }
  if (a.out == "-") {
    fwrite(html.data(), 1, html.size(), stdout);
    if (fflush(stdout) != 0 || ferror(stdout)) {
      fprintf(stderr, "vt_package plot: writing to standard output failed: %s\n", strerror(errno));
      return 1;
    }
    return p.problems.empty() ? 0 : 1;
  }
  if (!(a.force ? replace_file(a.out, html, &error) : vtlb_write_new_file(a.out, html, &error))) {
    fprintf(stderr, "vt_package plot: %s\n", error.c_str());
    return 1;
  }
  printf("plot: %s written (%s)\n", a.out.c_str(), summary.c_str());
  return p.problems.empty() ? 0 : 1;
}

int run_preview_command(int argc, char **argv) {
  static const option kOptions[] = {{"json", no_argument, nullptr, kJson},
                                    {"bucket", required_argument, nullptr, kBucket},
                                    kHelpOption,
                                    kEnd};
  PreviewOptions o;
  std::vector<std::string> operands;
  int status = read_command(
      argc, argv, kPreviewUsage, "hi:fu", kOptions, "unknown argument",
      [&o](int key, const char *value) {
        switch (key) {
          case 'i':
            if (!value || !*value) return Refusal{"-i needs a configuration file"};
            o.config = value;
            break;
          case 'f':
            o.force = true;
            break;
          case 'u':
            o.url_mode = true;
            break;
          case kJson:
            o.json = true;
            break;
          case kBucket:
            if (!value || !parse_bucket_seconds(value, &o.bucket_ms))
              return Refusal{"--bucket takes whole seconds from 1 to 31536000"};
            break;
        }
        return Refusal{};
      },
      &operands);
  if (status >= 0) return status;
  if (!operands.empty()) return usage_error(kPreviewUsage, "unknown argument", operands[0].c_str());
  if (o.config.empty()) return usage_error(kPreviewUsage, "preview needs -i CONFIG");
  return run_preview(o);
}

}  // namespace

bool parse_bucket_seconds(const char *text, uint64_t *bucket_ms) {
  if (!text[0] || strspn(text, "0123456789") != strlen(text) || strlen(text) > 9) return false;
  uint64_t seconds = strtoull(text, nullptr, 10);
  if (seconds < 1 || seconds > 31536000) return false;
  *bucket_ms = seconds * 1000;
  return true;
}

int vt_package_main(int argc, char **argv) {
  if (argc < 2) return usage_error(kProgramUsage, "a command is needed");
  const char *command = argv[1];
  if (is_help(command)) return print_help(kProgramUsage);
  if (strcmp(command, "--version") == 0) {
    printf("vt_package %s\n", VT_VERSION);
    return 0;
  }
  // Each command reads its arguments after its own name.
  int rest = argc - 1;
  char **args = argv + 1;
  // A package or a limit that leaves too little memory ends the command
  // with a message, not an abort.
  try {
    if (strcmp(command, "check") == 0) return run_check(rest, args);
    if (strcmp(command, "profile") == 0) return run_profile(rest, args);
    if (strcmp(command, "plot") == 0) return run_plot(rest, args);
    if (strcmp(command, "preview") == 0) return run_preview_command(rest, args);
  } catch (const std::bad_alloc &) {
    fflush(stdout);
    fprintf(stderr, "vt_package %s: out of memory\n", command);
    return 1;
  }
  std::string near = nearest_word(command, {"check", "profile", "plot", "preview"});
  if (!near.empty())
    return usage_error(kProgramUsage, "unknown command",
                       (std::string(command) + " (did you mean " + near + "?)").c_str());
  return usage_error(kProgramUsage, "unknown command", command);
}
