#include "tools/replay_gen/loader/input_filters.h"

#include <string.h>
#include <time.h>

namespace {

constexpr char kLogPrefix[] = "SOAP.log";
constexpr size_t kLogPrefixLen = sizeof(kLogPrefix) - 1;

// Decimal value of at most len characters of text from off, read as a
// leading-digits number; stops at the end of text.
int date_field(const char *text, size_t off, size_t len) {
  size_t text_len = strnlen(text, off + len);
  int value = 0;
  for (size_t i = off; i < text_len && text[i] >= '0' && text[i] <= '9'; i++)
    value = value * 10 + (text[i] - '0');
  return value;
}

int days_in_month(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// The digits of a file name's number: from the 10th character on, leading
// digits only, leading zeros skipped.
const char *number_digits(const char *name, size_t *len) {
  const char *p = strnlen(name, kLogPrefixLen + 1) > kLogPrefixLen ? name + kLogPrefixLen + 1 : "";
  while (*p == '0') p++;
  size_t n = 0;
  while (p[n] >= '0' && p[n] <= '9') n++;
  *len = n;
  return p;
}

}  // namespace

int32_t vt_is_numeric(const char *text) {
  for (; *text; text++)
    if (*text < '0' || *text > '9') return 0;
  return 1;
}

uint32_t get_timestamp(const char *date) {
  struct tm t = {};
  t.tm_year = date_field(date, 0, 4) - 1900;
  t.tm_mon = date_field(date, 4, 2) - 1;
  t.tm_mday = date_field(date, 6, 2);
  t.tm_isdst = -1;
  return static_cast<uint32_t>(mktime(&t));
}

bool begins_with_range_date(const char *text) {
  if (strnlen(text, 8) < 8) return false;
  for (int i = 0; i < 8; i++)
    if (text[i] < '0' || text[i] > '9') return false;
  int ymd = date_field(text, 0, 8);
  int year = ymd / 10000, month = ymd / 100 % 100, day = ymd % 100;
  if (ymd < kFirstRangeDate || ymd > kLastRangeDate) return false;
  return month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month);
}

bool check_dir_format(const char *name) {
  return strlen(name) == 8;
}

bool check_dir_range(const InputFiles &files, const char *name) {
  if (!begins_with_range_date(name)) return false;
  uint32_t t = get_timestamp(name);
  return files.start_timestamp <= t && t <= files.end_timestamp;
}

bool filter_file_name(const LogGates &log, const char *name) {
  if (strncmp(name, kLogPrefix, kLogPrefixLen) != 0) return false;
  if (log.debug_level) debug_log(log, 2, "filter_file_name", "a->d_name = %s", name);
  if (strlen(name) < kLogPrefixLen + 1) return false;
  const char *number = name + kLogPrefixLen + 1;
  return *number != '0' && vt_is_numeric(number);
}

bool filter_file_name_and_range(const InputFiles &files, const char *name) {
  if (strncmp(name, kLogPrefix, kLogPrefixLen) != 0) return false;
  signed char c = static_cast<signed char>(name[kLogPrefixLen]);
  return static_cast<signed char>(*files.start_file_ptr) <= c &&
         c <= static_cast<signed char>(*files.end_file_ptr);
}

int my_alpha_sort(const struct dirent **a, const struct dirent **b) {
  size_t len_a, len_b;
  const char *da = number_digits((*a)->d_name, &len_a);
  const char *db = number_digits((*b)->d_name, &len_b);
  if (len_a != len_b) return len_a < len_b ? -1 : 1;
  return strncmp(da, db, len_a);
}
