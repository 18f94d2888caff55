#include "tools/replay_gen/loader/line_reader.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace {

struct Line {
  std::string text;
  int64_t end_offset;
  bool operator==(const Line &o) const { return text == o.text && end_offset == o.end_offset; }
};

std::ostream &operator<<(std::ostream &os, const Line &l) {
  return os << l.end_offset << ":[" << l.text.substr(0, 40) << "] (" << l.text.size() << ")";
}

// Lines of every kind: empty, with NUL bytes, starting with the prefix or
// nearly, crossing chunk boundaries, longer than the limit, and a last line
// without a newline.
std::string sample_text() {
  std::string text;
  for (int i = 0; i < 3000; i++) {
    switch (i % 9) {
      case 0:
        text += "\n";
        break;
      case 1:
        text += std::string("a\0b", 3) + "\n";
        break;
      case 2:
        text += "*******\n";
        break;
      case 3:
        text += "******\n";
        break;
      case 4:
        text += " *******\n";
        break;
      case 5:
        text += std::string(static_cast<size_t>(i) * 37 % 5000, 'x') + "\n";
        break;
      case 6:
        text += "*******tail\n";
        break;
      case 7:
        text += std::string(i == 7 ? 200000 : 90, 'y') + "\n";
        break;
      default:
        text += "<Data>" + std::to_string(i) + "</Data>\n";
    }
  }
  return text + "no newline at the end";
}

FILE *open_text(const std::string &text) {
  FILE *fp = tmpfile();
  fwrite(text.data(), 1, text.size(), fp);
  rewind(fp);
  return fp;
}

enum Mode { kCopy, kInPlace, kInPlaceAndSkip };

// The lines of text as the reader hands them out in the given way; lines
// passed over by the skip are collected from the text by their offsets.
std::vector<Line> read_all(const std::string &text, Mode mode, size_t limit, uint64_t *skipped) {
  FILE *fp = open_text(text);
  auto *reader = static_cast<LineReader *>(malloc(sizeof(LineReader)));
  line_reader_init(reader, fp);
  std::vector<char> buf(limit);
  std::vector<Line> lines;
  for (;;) {
    if (mode == kInPlaceAndSkip) {
      int64_t from = reader->offset;
      uint64_t count = 0;
      size_t bytes = skip_lines_without_prefix(reader, "*******", 7, limit, &count);
      EXPECT_EQ(reader->offset, from + static_cast<int64_t>(bytes));
      *skipped += count;
      // Split the passed-over bytes back into lines to compare them.
      for (size_t at = 0; at < bytes;) {
        size_t nl = text.find('\n', static_cast<size_t>(from) + at) - static_cast<size_t>(from);
        lines.push_back({text.substr(static_cast<size_t>(from) + at, nl + 1 - at),
                         from + static_cast<int64_t>(nl + 1)});
        EXPECT_NE(lines.back().text.rfind("*******", 0), 0u) << "skipped " << lines.back();
        at = nl + 1;
      }
    }
    char *line = buf.data();
    size_t len = mode == kCopy ? read_line(reader, buf.data(), limit)
                               : read_line_in_place(reader, buf.data(), limit, &line);
    if (len == 0) break;
    EXPECT_EQ(line[len], '\0');
    lines.push_back({std::string(line, len), reader->offset});
    line[0] = '#';  // the caller may change its line in place
  }
  EXPECT_FALSE(reader->failed);
  free(reader);
  fclose(fp);
  return lines;
}

TEST(LineReader, InPlaceAndSkippedLinesAreTheCopiedLines) {
  std::string text = sample_text();
  for (size_t limit : {size_t{10485760}, size_t{4096}, size_t{8}}) {
    uint64_t skipped = 0;
    std::vector<Line> copied = read_all(text, kCopy, limit, &skipped);
    EXPECT_EQ(read_all(text, kInPlace, limit, &skipped), copied) << "limit " << limit;
    EXPECT_EQ(read_all(text, kInPlaceAndSkip, limit, &skipped), copied) << "limit " << limit;
    EXPECT_GT(skipped, 1000u) << "limit " << limit;
  }
}

}  // namespace
