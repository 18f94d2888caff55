#include "base/package/json_string.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/package/json_read.h"

namespace {

// Every byte, alone and between others, reads back through the parser: ASCII as itself, any other
// as the code point of its value; well-formed UTF-8 as it is, a bad sequence byte by byte.
TEST(JsonString, EveryByteReadsBack) {
  for (int b = 0; b < 256; b++) {
    const std::string raw(1, static_cast<char>(b));
    std::string want = raw;
    if (b >= 0x80) {
      want.assign(1, static_cast<char>(0xC0 | b >> 6));
      want.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
    Json v;
    std::string error;
    ASSERT_TRUE(parse_json(json_string("a" + raw + "\\" + raw), &v, &error)) << b << ": " << error;
    EXPECT_EQ(v.get<std::string>(), "a" + want + "\\" + want) << b;
  }
  const std::string kept = "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf";
  EXPECT_EQ(json_string(kept), "\"" + kept + "\"");
  for (const char *bad : {"\xc3", "\xc1\xbf", "\xe0\x80\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80"}) {
    std::string out = json_string(bad);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](unsigned char c) { return c < 0x80; }))
        << out;
  }
  EXPECT_EQ(json_string(std::string("q\"\x7f\0", 4)), "\"q\\\"\\u007f\\u0000\"");
}

}  // namespace
