#include "tools/loggen/loggen_options.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "base/core/command_line.h"

namespace {

enum class Kind { kInt, kShare, kText, kSeed, kDate, kFlag };

using FieldFn = void *(*)(LoggenOptions *);

struct OptionSpec {
  const char *name;
  Kind kind;
  FieldFn field;
  int64_t min = 0, max = 0;  // for kInt
};

#define FIELD(member) [](LoggenOptions *o) -> void * { return &o->member; }

const OptionSpec kSpecs[] = {
    {"out", Kind::kText, FIELD(out)},
    {"days", Kind::kInt, FIELD(days), 1, 3650},
    {"files-per-day", Kind::kInt, FIELD(files_per_day), 1, 10000},
    {"requests", Kind::kInt, FIELD(requests), 1, 2000000000},
    {"customers", Kind::kInt, FIELD(customers), 1, 1000000000},
    {"services", Kind::kInt, FIELD(services), 1, 32767},
    {"min-body", Kind::kInt, FIELD(min_body), 1, 100000000},
    {"max-body", Kind::kInt, FIELD(max_body), 1, 100000000},
    {"large-share", Kind::kShare, FIELD(large_share)},
    {"bad-share", Kind::kShare, FIELD(bad_share)},
    {"creation-ts-share", Kind::kShare, FIELD(creation_ts_share)},
    {"ns-share", Kind::kShare, FIELD(ns_share)},
    {"long-share", Kind::kShare, FIELD(long_share)},
    {"start-date", Kind::kDate, FIELD(start_date)},
    {"day-span", Kind::kInt, FIELD(day_span), 1, 86400},
    {"seed", Kind::kSeed, FIELD(seed)},
    {"url-per-service", Kind::kFlag, nullptr},
    {"services-in-turn", Kind::kFlag, nullptr},
    {"quiet", Kind::kFlag, nullptr},
    {"help", Kind::kFlag, nullptr},
    {"version", Kind::kFlag, nullptr},
};

#undef FIELD

bool valid_date(int64_t ymd) {
  int64_t y = ymd / 10000, m = ymd / 100 % 100, d = ymd % 100;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1971 || y > 2099 || m < 1 || m > 12 || d < 1) return false;
  bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
  return d <= (m == 2 && leap ? 29 : kDays[m - 1]);
}

// Reads a whole decimal integer; false on any other text. One past 64 bits
// reads as the extreme of its sign, outside the range of every option.
bool read_int(const char *text, int64_t *value) {
  if (!*text) return false;
  char *end;
  long long v = strtoll(text, &end, 10);
  if (*end) return false;
  *value = v;
  return true;
}

bool set_value(const OptionSpec &spec, const char *text, LoggenOptions *o, std::string *error) {
  std::string what = std::string("--") + spec.name + " " + text;
  void *field = spec.field(o);
  int64_t i;
  switch (spec.kind) {
    case Kind::kText:
      if (!*text) return *error = "--" + std::string(spec.name) + " needs a value", false;
      *static_cast<std::string *>(field) = text;
      return true;
    case Kind::kInt:
      if (!read_int(text, &i) || i < spec.min || i > spec.max) {
        *error = what + ": expected a whole number from " + std::to_string(spec.min) + " to " +
                 std::to_string(spec.max);
        return false;
      }
      *static_cast<int64_t *>(field) = i;
      return true;
    case Kind::kShare: {
      char *end;
      double d = strtod(text, &end);
      if (!*text || *end || !(d >= 0 && d <= 1))
        return *error = what + ": expected a share from 0 to 1", false;
      *static_cast<double *>(field) = d;
      return true;
    }
    case Kind::kDate:
      if (strlen(text) != 8 || !read_int(text, &i) || !valid_date(i))
        return *error = what + ": expected a date YYYYMMDD from 1971 to 2099", false;
      *static_cast<int64_t *>(field) = i;
      return true;
    case Kind::kSeed: {
      char *end;
      errno = 0;
      unsigned long long s = strtoull(text, &end, 10);
      if (!*text || *end || errno || text[0] == '-')
        return *error = what + ": expected an unsigned whole number", false;
      *static_cast<uint64_t *>(field) = s;
      return true;
    }
    case Kind::kFlag:
      break;
  }
  return false;
}

// getopt_long's table of kSpecs: each option's key is its place in kSpecs.
std::vector<option> long_options() {
  std::vector<option> out;
  for (const OptionSpec &s : kSpecs)
    out.push_back({s.name, s.kind == Kind::kFlag ? no_argument : required_argument, nullptr,
                   static_cast<int>(&s - kSpecs) + 1000});
  out.push_back({nullptr, 0, nullptr, 0});
  return out;
}

}  // namespace

bool parse_loggen_options(int argc, char **argv, LoggenOptions *o, std::string *error, bool *help,
                          LoggenRequest *request) {
  *help = false;
  bool version = false;
  if (request) *request = LoggenRequest::kGenerate;
  std::vector<option> table = long_options();
  std::vector<std::string> operands;
  CommandLineError bad;
  bool read = vtlb_read_command_line(
      argc, argv, "", table.data(),
      [&](int key, const char *value) {
        const OptionSpec &spec = kSpecs[key - 1000];
        if (spec.kind != Kind::kFlag) return set_value(spec, value, o, error);
        std::string name = spec.name;
        if (name == "help") *help = true;
        if (name == "version") version = true;
        if (name == "quiet") o->progress = false;
        if (name == "url-per-service") o->url_per_service = true;
        if (name == "services-in-turn") o->services_in_turn = true;
        return true;
      },
      &operands, &bad);
  if (!read && bad.fault == CommandLineFault::kRefused) return false;
  if (!read) return *error = vtlb_command_line_message(bad), false;
  if (!operands.empty()) return *error = "unexpected argument " + operands[0], false;
  if (*help || version) {
    if (request) *request = *help ? LoggenRequest::kHelp : LoggenRequest::kVersion;
    return true;
  }
  if (o->out.empty()) return *error = "--out is required", false;
  if (o->min_body > o->max_body) {
    *error = "--min-body " + std::to_string(o->min_body) + " is larger than --max-body " +
             std::to_string(o->max_body);
    return false;
  }
  return true;
}

void print_loggen_usage(FILE *out, const char *prog) {
  fprintf(out,
          "Usage: %s --out DIR [options]\n"
          "Writes a synthetic capture log tree DIR/YYYYMMDD/extracts/SOAP.log.N and prints a\n"
          "summary with the counts the replay generator should report for it.\n"
          "  --out DIR                 base directory of the tree (required)\n"
          "  --days N                  capture days (1)\n"
          "  --files-per-day N         log files per day (1)\n"
          "  --requests N              records in all, bad ones included (10000)\n"
          "  --customers N             distinct customer ids (1000)\n"
          "  --services N              distinct services, at most 32767 (10)\n"
          "  --url-per-service         every service its own URL path (/svc/AreaK.svc/N), so\n"
          "                            that URL mode (-u) sees as many services\n"
          "  --services-in-turn        requests go to the services in turn rather than\n"
          "                            at random, so every service gets its share\n"
          "  --min-body N              smallest body in bytes (300)\n"
          "  --max-body N              largest usual body in bytes (40000)\n"
          "  --large-share F           share of bodies 2 to 25 times --max-body (0.001)\n"
          "  --bad-share F             share of rejected records, spread over codes 101..107 "
          "(0.01)\n"
          "  --creation-ts-share F     share of bodies with a creationTimestamp (0.2)\n"
          "  --ns-share F              share of customer id elements with a namespace prefix "
          "(0.1)\n"
          "  --long-share F            share of customers whose visits outlast 30 minutes "
          "(0.1)\n"
          "  --start-date YYYYMMDD     first capture day, UTC (20261201)\n"
          "  --day-span SECONDS        visits start within the first SECONDS of each day\n"
          "                            (86400: the whole day)\n"
          "  --seed N                  random seed; the same options and seed give the same "
          "bytes (1)\n"
          "  --quiet                   no progress lines on stderr\n"
          "  --help                    this text\n"
          "  --version                 the version\n"
          "Exit status: 0 done, 1 the tree could not be written, 2 usage error.\n",
          prog);
}
