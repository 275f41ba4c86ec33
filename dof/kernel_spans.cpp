#include "dof/kernel_spans.h"

#include <cmath>

namespace dof {

namespace {

// Shortest run of equal weights worth treating as a span.
constexpr int32_t kMinSpan = 3;
// The span form is taken when its differences are at most this fraction of
// the kernel's taps.
constexpr double kMostSpanCost = 0.35;

// Row `row` (d weights) as differences at [a0, a1) and [b0, b1).
SpanRow RowSpans(const float* row, int32_t d, std::vector<double>& deltas) {
  int32_t left = 0, right = d;
  while (left < d && row[left] == 0.0f) ++left;
  while (right > left && row[right - 1] == 0.0f) --right;
  // The longest run of one weight.
  int32_t lo = left, hi = left;
  for (int32_t c = left; c < right;) {
    int32_t e = c + 1;
    while (e < right && row[e] == row[c]) ++e;
    if (e - c > hi - lo) {
      lo = c;
      hi = e;
    }
    c = e;
  }
  SpanRow s{left, right + 1, right + 1, right + 1, 0, 0};
  if (left == right) s.a1 = s.b0 = s.b1 = left;  // an empty row
  if (hi - lo >= kMinSpan) {
    s.a1 = lo + 1;  // the step up to the span at lo
    s.b0 = hi;      // the step down from it at hi
  }
  auto weight = [&](int32_t c) { return c < 0 || c >= d ? 0.0 : double(row[c]); };
  auto stretch = [&](int32_t c0, int32_t c1) {
    const size_t at = deltas.size();
    for (int32_t c = c0; c < c1; ++c) deltas.push_back(weight(c) - weight(c - 1));
    deltas.insert(deltas.end(), kDeltaPad, 0.0);
    return at;
  };
  s.a = stretch(s.a0, s.a1);
  s.b = stretch(s.b0, s.b1);
  return s;
}

}  // namespace

KernelSpans FindSpans(const std::vector<float>& kern) {
  const int32_t d = int32_t(std::lround(std::sqrt(double(kern.size()))));
  KernelSpans spans;
  if (d < kMinSpanSide || size_t(d) * size_t(d) != kern.size()) return spans;
  spans.deltas.assign(kDeltaPad, 0.0);
  size_t cost = 0;
  for (int32_t i = 0; i < d; ++i) {
    spans.rows.push_back(RowSpans(kern.data() + size_t(i) * size_t(d), d, spans.deltas));
    cost += size_t(spans.rows.back().a1 - spans.rows.back().a0 + spans.rows.back().b1 - spans.rows.back().b0);
  }
  if (double(cost) > kMostSpanCost * double(d) * double(d)) spans = KernelSpans();
  return spans;
}

}  // namespace dof
