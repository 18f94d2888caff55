#include "tools/package/plot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/core/golden_file_test_support.h"
#include "base/html/chart.h"
#include "tools/package/profile_report.h"

namespace {

size_t count_of(const std::string &text, const std::string &part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

// As kept: two hours uneven over workers and pages, a burst, overlapping users; an empty one.
TEST(Plot, PageAndProfileOfASmallPackageAreAsKept) {
  std::vector<uint64_t> times;
  for (uint64_t i = 0; i < 3000; i++) times.push_back(i * i % 7200000);
  for (uint64_t i = 0; i < 40; i++) times.push_back(3600000 + i);
  std::sort(times.begin(), times.end());
  ProfileBuilder b;
  profile_begin(&b, 3, 1000);
  for (uint64_t i = 0; i < times.size(); i++) {
    uint64_t t = times[i];
    int w = static_cast<int>(i % 7 % 3), page = static_cast<int>(t % 11 % 5);
    ASSERT_TRUE(profile_add_request(&b, w, page, t, 300 + i * 37 % 1500, 200 + i * 37 % 1500));
    if (i % 12 == 0) profile_add_user(&b, w, t, t + i * 997 % 900000);
  }
  Profile p;
  profile_finish(&b, &p);
  p.rejected_by_code = {{102, 4}, {105, 1200}};
  ProfileBuilder none;
  profile_begin(&none, 2, 1000);
  Profile empty;
  profile_finish(&none, &empty);
  const std::string dir = VT_PACKAGE_TESTDATA;
  expect_as_kept(render_plot_html(p, "/kept/package") + render_plot_html(empty, "/kept/<empty>"),
                 dir + "/plot_page.html");
  expect_as_kept(
      format_profile_text(p, "/kept/package") + "\n" + format_profile_text(empty, "/kept/empty"),
      dir + "/profile.txt");
  expect_as_kept(
      "{" + format_profile_json_members(p) + "}\n{" + format_profile_json_members(empty) + "}\n",
      dir + "/profile.json");
}

// As kept: busiest pages first (ties in id order), names cut past 40; short and long spans.
TEST(Plot, PagesAtTheirEdgesAreAsKept) {
  ProfileBuilder b;
  profile_begin(&b, 1, 1000);
  for (int page = 0; page < 25; page++)
    for (int i = 0; i < (page == 7 || page == 8 ? 5 : page + 1); i++)
      ASSERT_TRUE(profile_add_request(&b, 0, page, 1000 * i, 100, 50));
  Profile p;
  profile_finish(&b, &p);
  p.has_clock_and_names = true;
  p.page_names.assign(25, "");
  p.page_names[24] = std::string(39, 'a') + "Z";
  p.page_names[23] = "B" + std::string(40, 'b');
  std::string pages = render_plot_html(p, "page mix");
  for (uint64_t span_ms : {60000, 86400000}) {
    profile_begin(&b, 1, 1000);
    for (uint64_t t = 0; t <= span_ms; t += span_ms / 100) profile_add_request(&b, 0, 0, t, 1, 1);
    profile_finish(&b, &p);
    pages += render_plot_html(p, "span " + std::to_string(span_ms));
  }
  expect_as_kept(pages, std::string(VT_PACKAGE_TESTDATA) + "/plot_edges.html");
}

// Under 2 MB; a closed series and bars per worker in order; a note past 24; nothing fetched.
TEST(Plot, TenMillionRequestsOfManyWorkersStayUnderTwoMegabytes) {
  const size_t workers = 256;
  ProfileBuilder b;
  profile_begin(&b, 256, 1000);
  for (uint64_t i = 0, n = 10000000; i < n; i++) {  // over 10 days and 400 pages
    uint64_t t = i * 864000000 / n;
    int w = static_cast<int>(i % workers);
    profile_add_request(&b, w, static_cast<int>(i % 400), t, 500 + i % 700, 400 + i % 700);
    if (i % 10 == 0) profile_add_user(&b, w, t, t + 600000);
  }
  Profile p;
  profile_finish(&b, &p);
  std::string html = render_plot_html(p, "big");
  EXPECT_LT(html.size(), 2u * 1000 * 1000);
  EXPECT_EQ(count_of(html, "<path class=\"series\" data-worker=\"0\""), 1u);
  EXPECT_EQ(count_of(html, "Z\"><title>worker "), workers);
  EXPECT_EQ(count_of(html, "256 workers, stacked from worker 0"), 1u);
  EXPECT_NE(html.find("380 more pages"), std::string::npos);
  for (const char *absent : {"</i>worker ", "<script", "src=", "href=", "url("})
    EXPECT_EQ(html.find(absent), std::string::npos) << absent;
  std::vector<double> xs;
  const std::string bar = "<rect class=\"bar\"";
  for (size_t at = html.find(bar); at != std::string::npos; at = html.find(bar, at + 1))
    xs.push_back(std::stod(html.substr(html.find(" x=\"", at) + 4)));
  ASSERT_EQ(xs.size(), 2 * workers);
  for (size_t i = 0; i < xs.size(); i++) {
    double w = static_cast<double>(i % workers), n = static_cast<double>(workers);
    EXPECT_GT(xs[i], kChartLeft + kChartPlotWidth * w / n) << i;
    EXPECT_LT(xs[i], kChartLeft + kChartPlotWidth * (w + 1) / n) << i;
  }
}

TEST(Plot, AxisHelpers) {
  // The first clock step giving at most 8 ticks; past a week, weeks doubled.
  // clang-format off
  const std::pair<uint64_t, uint64_t> steps[] = {{8, 1}, {17, 2}, {18, 5}, {89999, 10000},
      {90000, 15000}, {135000, 30000}, {8100000, 1800000}, {9 * 604800000ull, 1209600000},
      {9 * 2419200000ull - 1, 2419200000}, {9 * 2419200000ull, 4838400000}};
  // clang-format on
  for (auto [span, step] : steps) EXPECT_EQ(time_tick_step(span, 8), step) << span;
  EXPECT_EQ(format_tick_time(3723000, 1000), "1:02:03");
  EXPECT_EQ(format_tick_time(1200, 200), "0:00:01.200");
  for (auto [value, ceiling] :
       {std::pair{0.0, 1.0}, {3.0, 5.0}, {5.0, 5.0}, {5.1, 10.0}, {0.86, 1.0}, {1234.0, 2000.0}})
    EXPECT_EQ(nice_ceiling(value), ceiling) << value;
  auto x_of = [](size_t c) { return 10.0 * static_cast<double>(c); };
  EXPECT_EQ(chart_step_path({5, 5, 7, 7, 10}, 10, x_of, true),
            "M0.0 10.0V5.0H10.0H20.0V7.0H30.0H40.0V10.0H50.0V10.0Z");
  EXPECT_EQ(chart_step_path({10, 4}, 10, x_of, false), "M0.0 10.0V10.0H10.0V4.0H20.0");
}

}  // namespace
