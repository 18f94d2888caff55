#include "tools/replay_gen/loader/field_extract.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace {

// The uid and where the line is cut.
TEST(ExtractUid, ValuesAndCut) {
  const struct {
    const char *line, *tag;
    int64_t uid;
    const char *after;  // the line after the call
  } cases[] = {
      {"<XACustId>12345</XACustId>x", nullptr, 12345, "<XACustId>12345"},
      {"<a:XACustId>12345</a:XACustId>", nullptr, 12345, "<a:XACustId>12345"},
      {"<XACustId></XACustId>", nullptr, kUidEmptyElement, "<XACustId>"},
      {"<XACustId>abc</XACustId>", nullptr, 0, "<XACustId>abc"},
      {"<XACustId>9223372036854775807</XACustId>", nullptr, INT64_MAX,
       "<XACustId>9223372036854775807"},
      {"<XACustId>9223372036854775808</XACustId>", nullptr, 0, "<XACustId>9223372036854775808"},
      {"<XACustId>12345\n", nullptr, kUidNotOnLine, "<XACustId>12345\n"},  // split element
      {"<XACustId", nullptr, kUidNotOnLine, "<XACustId"},
      {"<Other>5</Other>", nullptr, kUidNotOnLine, "<Other>5</Other>"},
      {"<CustNo>77</CustNo><XACustId>1</XACustId>", "CustNo", 77, "<CustNo>77"},
      {"<XACustId>3</XACustId>", "", 3, "<XACustId>3"},
      {"", nullptr, kUidNoText, ""},
  };
  for (const auto &c : cases) {
    std::string line = c.line;
    EXPECT_EQ(extract_uid(LogGates{}, line.data(), c.tag), c.uid) << c.line;
    EXPECT_STREQ(line.c_str(), c.after) << c.line;
  }
  EXPECT_EQ(extract_uid(LogGates{}, nullptr, nullptr), kUidNoText);
}

// Whichever way a number is read, it is the value strtod gives.
TEST(ReadDecimal, SameAsStrtod) {
  for (const char *text :
       {"1796083246\n", "299418", "007 ", "123456789012345\r\n", "1234567890123456",
        "99999999999999999999", "12.5", "12e3", "0x1F", "1,5", "", "x", "18446744073709551616\t"})
    EXPECT_EQ(read_decimal(text), strtod(text, nullptr)) << text;
}

TEST(ElementValue, OffsetsAndLengths) {
  const struct {
    const char *xml;
    int32_t result, offset, length;
  } cases[] = {
      {"<creationTimestamp>2020-01-01T10:00:00.000Z</creationTimestamp>", 0, 19, 24},
      {"<creationTimestamp xmlns:a=\"u\" xmlns:b=\"v\">7</creationTimestamp>", 0, 43, 1},
      {"<creationTimestamp>2020", 0, 19, 4},
      {"<other>1</other>", -1, 0, 0},
  };
  for (const auto &c : cases) {
    int32_t offset = 0, length = 0;
    int32_t rc = get_xml_element_value(LogGates{}, c.xml, "creationTimestamp", &offset, &length);
    EXPECT_EQ((std::vector{rc, offset, length}), (std::vector{c.result, c.offset, c.length}))
        << c.xml;
  }
}

// A creation timestamp is kept only where its place (from the body's first
// byte) fits 32 bits and its length 15; a line without one changes nothing.
TEST(CreationTimestamp, KeptWhereItsPlaceAndLengthFit) {
  const std::string tag = "<creationTimestamp>", end = "</creationTimestamp>\n";
  const uint64_t at_most = UINT32_MAX;
  const struct {
    uint64_t offset;  // where the value starts in the body
    size_t length;
    bool kept;
  } cases[] = {
      {19, 4, true},         {at_most, 4, true},         {at_most + 1, 4, false},
      {19, INT16_MAX, true}, {19, INT16_MAX + 1, false},
  };
  for (const auto &c : cases) {
    std::string line = tag + std::string(c.length, '7') + end;
    SeqData recs[2] = {};
    // The line ends the body so far: its tag starts at offset - 19.
    recs[1].req_size = c.offset - tag.size() + line.size();
    recs[1].type = '0';
    uint64_t seq = 1;
    int16_t flag = 0;
    int rc = extract_creation_timestamp(LogGates{}, line.data(), &seq, recs,
                                        static_cast<int32_t>(line.size()), &flag);
    const SeqData &r = recs[1];
    EXPECT_EQ(std::to_string(rc) + r.type + std::to_string(r.creation_ts_offset) + "," +
                  std::to_string(r.creation_ts_size) + "," + std::to_string(flag),
              c.kept ? "01" + std::to_string(c.offset) + "," + std::to_string(c.length) + ",1"
                     : "-10" + std::string("0,0,0"))
        << c.offset << " " << c.length;
  }
  char other[] = "<a>1</a>\n";
  uint64_t seq = 0;
  SeqData rec = {};
  int16_t flag = 0;
  EXPECT_EQ(extract_creation_timestamp(LogGates{}, other, &seq, &rec, 9, &flag) + flag, -1);
}

TEST(ServiceNameFromUrl, LastTwoSegments) {
  const struct {
    const char *url;
    const char *name;
  } cases[] = {
      {"http://127.0.0.1/svc/Service.svc?wsdl=1", "svc_Service.svc"},
      {"http://h/a/b/", "b_"},
      {"https://host.example/x", "x"},
      {"http://127.0.0.1/", "127.0.0.1_"},
      {"/a/b/c", "b_c"},
      {"/a/b", "_a_b"},
      {"http://h//a/b", "_a_b"},
      {"plain", "plain"},
      {"http://host.example", "_host.example"},  // no slash after the host
      {"http://h", "_h"},
      // Names safe for the script's renaming lists and the console.
      {"http://h/c/x,y", "c_x_y"},
      {"http://h/a/b\tc\x1b", "a_b_c_"},
  };
  for (const auto &c : cases) {
    std::string url = c.url;
    char name[64];
    testing::internal::CaptureStdout();  // its "url - " line
    get_service_name_from_url(LogGates{}, url.data(), name, sizeof name);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(name, c.name) << c.url;
    EXPECT_EQ(url, c.url);
  }
}

}  // namespace
