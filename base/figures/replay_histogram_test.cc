#include "base/figures/replay_histogram.h"

#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <random>
#include <tuple>

namespace {

uint64_t exact_percentile(std::vector<uint64_t> v, double percent) {
  std::sort(v.begin(), v.end());
  size_t rank = static_cast<size_t>(ceil(percent / 100 * static_cast<double>(v.size())));
  return v[std::max<size_t>(rank, 1) - 1];
}

// Samples over nine orders of magnitude, as latencies in nanoseconds are, and small exact ones.
TEST(ReplayHistogram, PercentilesWithinTheStatedErrorOfSortedSamples) {
  std::mt19937_64 rng(5);
  std::lognormal_distribution<double> spread(12, 3);
  for (int round = 0; round < 2; round++) {
    std::vector<uint64_t> values;
    LogHistogram h;
    for (int i = 0; i < 20000; i++) {
      uint64_t v = round == 0 ? static_cast<uint64_t>(spread(rng)) : rng() % 300;
      values.push_back(v);
      histogram_add(&h, v);
    }
    for (double p : {0.1, 1.0, 50.0, 90.0, 99.0, 99.9, 100.0}) {
      double exact = static_cast<double>(exact_percentile(values, p));
      double got = static_cast<double>(histogram_percentile(h, p));
      EXPECT_LE(fabs(got - exact), exact * kHistogramRelativeError)
          << "p" << p << " round " << round;
    }
    EXPECT_EQ(histogram_percentile(h, 100), *std::max_element(values.begin(), values.end()));
  }
}

TEST(ReplayHistogram, EmptyMergedAndExtremes) {
  LogHistogram empty;
  EXPECT_EQ(histogram_percentile(empty, 50), 0u);
  LogHistogram a, b, all;
  for (uint64_t v : {7ull, 1000ull, 123456789ull, 18446744073709551615ull}) {
    histogram_add(&a, v);
    histogram_add(&all, v);
  }
  for (uint64_t v : {0ull, 5000ull}) {
    histogram_add(&b, v);
    histogram_add(&all, v);
  }
  histogram_merge(&a, b);
  histogram_merge(&a, empty);
  EXPECT_EQ(std::make_tuple(a.total, a.min, a.max), std::make_tuple(6ul, 0ul, UINT64_MAX));
  for (double p : {1.0, 34.0, 50.0, 67.0, 84.0, 100.0})
    EXPECT_EQ(histogram_percentile(a, p), histogram_percentile(all, p)) << p;
  // A histogram of one sample keeps the bound that the merged one does not pass.
  for (uint64_t v : {10ull, 5000ull}) {
    LogHistogram one, other;
    histogram_add(&one, 1000);
    histogram_add(&other, v);
    histogram_merge(&one, other);
    EXPECT_EQ(std::make_pair(one.min, one.max),
              std::make_pair(std::min<uint64_t>(1000, v), std::max<uint64_t>(1000, v)));
  }
}

}  // namespace
