// The sample of scripts/mutate_random_test.py: every rule of the fault
// generator finds places here. A line holding BAIT has its operators only in
// a comment or a literal, where no fault may go.
#include <cctype>
#include <cstdio>

// BAIT: if (a < b && !c) return x + 1; count = 0; break;
/* BAIT: while (i >= 2 || j == 1) { f(); }
   BAIT: return -1 != 0; counter += 1; */
const char *kBait = "BAIT if (a < b && !c) return x + 1; \" count = 0;";
char kBaitChar = '<';  // BAIT ' > 1
const char *kBaitRaw = R"x(BAIT )" if (a > b) { counter = 1; }
BAIT return 0; while (i == 2) ++i; // " )x";
#define BAIT_MACRO(a, b) ((a) < (b) && !(a) ? 1 : 0)

int counter = 0;
struct {
  struct {
    int debug_level;
  } log;
} run;
void trace(int);
void error_log(int, const char *);

static void note(const char *what) {
  std::fputs(what, stdout);
}

template <typename T>
T twice(T v) {
  return v + v;
}

int clamp_add(int a, int b, int limit) {
  int sum = a + b;
  if (sum > limit) sum = limit;
  if (run.log.debug_level) trace(sum);
  if (sum < 0) error_log(1, "negative");
  if (sum <= 0 && limit != 16) return 0;
  counter += 1;
  return sum - 1;
}

bool in_range(int x, int lo, int hi) {
  return x >= lo && x < hi;
}

int first_word_end(const char *s) {
  int i = 0;
  for (; s[i] != '\0'; i++) {
    if (s[i] == ' ') break;
    if (!std::isalpha(static_cast<unsigned char>(s[i]))) continue;
    counter++;
  }
  return i;
}

int countdown(int n) {
  int steps = 0;
  while (n > 1) {
    n = n - 1;
    ++steps;
  }
  for (int k = 0; k < 3; k++) steps += k;
  return steps;
}

unsigned masks(unsigned v) {
  unsigned m = v & 0x1F;
  m |= 0644;
  m += 1'000;
  if (m >= 1u) m = m + 1;
  return m;
}

bool flag(int x) {
  if (x == 2) note("x > 1 && !x; return 0;");  // BAITED code: the literal stays whole
  if (x != 3) return true;
  return false;
}

const char *nothing() {
  return nullptr;
}

int sign(int x) {
  int y = -1;
  int &&r = static_cast<int &&>(y);
  if constexpr (sizeof(int) == 4) y = r;
  note("one "
       "two");
  return x < 0 ? y : 1;
}

int main() {
  int total = clamp_add(1, 2, 16) + in_range(1, 0, 3) + first_word_end("ab c") + countdown(4) +
              static_cast<int>(masks(3)) + flag(2) + sign(-1) + twice(2) + (nothing() != nullptr);
  return total == 0 ? 1 : 0;
}
