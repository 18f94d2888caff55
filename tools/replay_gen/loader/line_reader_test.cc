#include "tools/replay_gen/loader/line_reader.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using Lines = std::vector<std::pair<std::string, int64_t>>;  // line, file offset after it

// Reads text copied (mode 0), in place (1), in place with the lines before
// each "*******" line passed over (2; those are cut out of the text by their
// offsets), or in place and copied in turn (3).
Lines read_all(const std::string &text, int mode, size_t limit, uint64_t *skipped) {
  FILE *fp = tmpfile();
  fwrite(text.data(), 1, text.size(), fp);
  rewind(fp);
  auto reader = std::make_unique<LineReader>();
  line_reader_init(reader.get(), fp);
  std::vector<char> buf(limit);
  Lines lines;
  for (;;) {
    if (mode == 2) {
      int64_t at = reader->offset;
      int64_t end = at + static_cast<int64_t>(
                             skip_lines_without_prefix(reader.get(), "*******", 7, limit, skipped));
      for (int64_t next; at < end; at = next) {
        next = static_cast<int64_t>(text.find('\n', static_cast<size_t>(at))) + 1;
        lines.push_back(
            {text.substr(static_cast<size_t>(at), static_cast<size_t>(next - at)), next});
        EXPECT_NE(lines.back().first.rfind("*******", 0), 0u) << "passed over an end line";
      }
    }
    char *line = buf.data();
    bool copy = mode == 0 || (mode == 3 && lines.size() % 2 == 1);
    size_t len = copy ? read_line(reader.get(), buf.data(), limit)
                      : read_line_in_place(reader.get(), buf.data(), limit, &line);
    if (len == 0) break;
    EXPECT_LT(len, limit);
    if (len >= limit) break;
    EXPECT_EQ(line[len], '\0');
    lines.push_back({std::string(line, len), reader->offset});
    line[0] = '#';  // the caller may change its line in place
  }
  fclose(fp);
  return lines;
}

// Lines of every kind: empty, with NUL bytes, starting with the end prefix or
// nearly, crossing chunk boundaries, longer than the limit, and a last line
// without a newline; pieces of a long line are never longer than the limit
// allows, and together they are the text.
TEST(LineReader, InPlaceAndPassedOverLinesAreTheCopiedLines) {
  const std::string kinds[] = {"",         std::string("a\0b", 3), "*******",           "******",
                               " *******", "*******tail",          std::string(90, 'y')};
  std::string text;
  for (int i = 0; i < 3000; i++)
    text +=
        (i % 8 == 7 ? std::string(static_cast<size_t>(i) * 37 % 5000, 'x') : kinds[i % 8]) + "\n";
  text = text.insert(700, std::string(200000, 'z')) + "no newline at the end";
  for (size_t limit : {size_t{10485760}, size_t{4096}, size_t{8}}) {
    uint64_t skipped = 0;
    Lines copied = read_all(text, 0, limit, &skipped);
    std::string joined;
    for (const auto &[line, offset] : copied) joined += line;
    EXPECT_TRUE(joined == text) << "limit " << limit;
    EXPECT_EQ(read_all(text, 1, limit, &skipped), copied) << "limit " << limit;
    EXPECT_EQ(read_all(text, 2, limit, &skipped), copied) << "limit " << limit;
    EXPECT_EQ(read_all(text, 3, limit, &skipped), copied) << "limit " << limit;
    EXPECT_GT(skipped, 1000u) << "limit " << limit;
  }
  // A long last line that the last, short chunk ends: its piece that
  // crosses into that chunk is cut at the limit too.
  text = std::string(kLineReaderChunk - 4, 'a') + "\nxyzabcdefghij";
  uint64_t skipped = 0;
  Lines copied = read_all(text, 0, 8, &skipped);
  ASSERT_GE(copied.size(), 2u);
  EXPECT_EQ(copied[copied.size() - 2].first, "xyzabcd");
  EXPECT_EQ(copied.back(), (std::pair<std::string, int64_t>{"efghij", text.size()}));
}

}  // namespace
