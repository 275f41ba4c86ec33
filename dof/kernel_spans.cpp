#include "dof/kernel_spans.h"

#include <cmath>

namespace dof {

namespace {

// Shortest run of equal weights worth two differences.
constexpr int32_t kMinSpan = 3;
// The span form is taken when its additions (rim taps plus two per span)
// are at most this fraction of the kernel's taps.
constexpr double kMostSpanCost = 0.25;

SpanRow RowSpans(const float* row, int32_t d) {
  int32_t left = 0, right = d;
  while (left < d && row[left] == 0.0f) ++left;
  while (right > left && row[right - 1] == 0.0f) --right;
  SpanRow s{left, left, left, right, 0.0f};
  // The longest run of one weight.
  for (int32_t c = left; c < right;) {
    int32_t e = c + 1;
    while (e < right && row[e] == row[c]) ++e;
    if (e - c > s.hi - s.lo) {
      s.lo = c;
      s.hi = e;
    }
    c = e;
  }
  if (s.hi - s.lo < kMinSpan) s.lo = s.hi = left;
  s.value = s.hi > s.lo ? row[s.lo] : 0.0f;
  return s;
}

}  // namespace

KernelSpans FindSpans(const std::vector<float>& kern) {
  const int32_t d = int32_t(std::lround(std::sqrt(double(kern.size()))));
  KernelSpans spans;
  if (d < kMinSpanSide || size_t(d) * size_t(d) != kern.size()) return spans;
  int64_t cost = 0;
  for (int32_t i = 0; i < d; ++i) {
    const SpanRow s = RowSpans(kern.data() + size_t(i) * size_t(d), d);
    cost += (s.lo - s.left) + (s.right - s.hi) + (s.hi > s.lo ? 2 : 0);
    spans.rows.push_back(s);
  }
  if (double(cost) > kMostSpanCost * double(d) * double(d)) spans.rows.clear();
  return spans;
}

}  // namespace dof
