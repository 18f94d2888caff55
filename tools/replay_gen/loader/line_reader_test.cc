#include "tools/replay_gen/loader/line_reader.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// Lines of every kind: empty, with NUL bytes, starting with the prefix or
// nearly, crossing chunk boundaries, longer than the limit, and a last line
// without a newline.
std::string sample_text() {
  const std::string kinds[] = {"",         std::string("a\0b", 3), "*******",           "******",
                               " *******", "*******tail",          std::string(90, 'y')};
  std::string text;
  for (int i = 0; i < 3000; i++)
    text +=
        (i % 8 == 7 ? std::string(static_cast<size_t>(i) * 37 % 5000, 'x') : kinds[i % 8]) + "\n";
  return text.insert(700, std::string(200000, 'z')) + "no newline at the end";
}

// (line, file offset after it) as the reader hands them out: copied, in place,
// or in place with the lines before each "*******" line passed over (those
// are cut out of the text by their offsets).
std::vector<std::pair<std::string, int64_t>> read_all(const std::string &text, int mode,
                                                      size_t limit, uint64_t *skipped) {
  FILE *fp = tmpfile();
  fwrite(text.data(), 1, text.size(), fp);
  rewind(fp);
  auto *reader = static_cast<LineReader *>(malloc(sizeof(LineReader)));
  line_reader_init(reader, fp);
  std::vector<char> buf(limit);
  std::vector<std::pair<std::string, int64_t>> lines;
  for (;;) {
    if (mode == 2) {
      int64_t at = reader->offset;
      size_t passed = skip_lines_without_prefix(reader, "*******", 7, limit, skipped);
      for (int64_t end = at + static_cast<int64_t>(passed); at < end;) {
        int64_t next = static_cast<int64_t>(text.find('\n', static_cast<size_t>(at))) + 1;
        lines.push_back(
            {text.substr(static_cast<size_t>(at), static_cast<size_t>(next - at)), next});
        EXPECT_NE(lines.back().first.rfind("*******", 0), 0u) << "passed over an end line";
        at = next;
      }
    }
    char *line = buf.data();
    size_t len = mode == 0 ? read_line(reader, buf.data(), limit)
                           : read_line_in_place(reader, buf.data(), limit, &line);
    if (len == 0) break;
    EXPECT_EQ(line[len], '\0');
    lines.push_back({std::string(line, len), reader->offset});
    line[0] = '#';  // the caller may change its line in place
  }
  free(reader);
  fclose(fp);
  return lines;
}

TEST(LineReader, InPlaceAndPassedOverLinesAreTheCopiedLines) {
  std::string text = sample_text();
  for (size_t limit : {size_t{10485760}, size_t{4096}, size_t{8}}) {
    uint64_t skipped = 0;
    auto copied = read_all(text, 0, limit, &skipped);
    EXPECT_EQ(read_all(text, 1, limit, &skipped), copied) << "limit " << limit;
    EXPECT_EQ(read_all(text, 2, limit, &skipped), copied) << "limit " << limit;
    EXPECT_GT(skipped, 1000u) << "limit " << limit;
  }
}

}  // namespace
