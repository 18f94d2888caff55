#include "base/core/nearest_word.h"

#include <stdint.h>

#include <algorithm>

namespace {

size_t edit_distance(const std::string &a, const std::string &b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); j++) row[j] = j;
  for (size_t i = 1; i <= a.size(); i++) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); j++) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string nearest_word(const std::string &word, const std::vector<std::string> &candidates) {
  std::string best;
  size_t best_distance = SIZE_MAX;
  for (const std::string &c : candidates) {
    size_t d = edit_distance(word, c);
    if (d < best_distance) {
      best_distance = d;
      best = c;
    }
  }
  if (best.empty() || best_distance > std::max<size_t>(2, best.size() / 3)) return "";
  return best;
}
