#pragma once
// Kernels that are flat inside their outline ("Disk" and "Polygon" without
// "BadBokeh", and any blur image of that form): each row is a rim run of
// taps, a constant span and a rim run. A pass adds such a row's span as two
// column differences (plus at its start, minus past its end) and the rims as
// taps, so a large kernel costs about its perimeter instead of its area.
#include <cstdint>
#include <vector>

namespace dof {

// One kernel row: taps at columns [left, lo) and [hi, right), `value` at
// every column of [lo, hi), zero elsewhere.
struct SpanRow {
  int32_t left, lo, hi, right;
  float value;
};

// A kernel's rows as spans; empty when the kernel goes tap by tap.
struct KernelSpans {
  std::vector<SpanRow> rows;
  bool Empty() const { return rows.empty(); }
};

// Smallest kernel side added as spans: below it the taps are as cheap as
// the differences and their running sums.
constexpr int32_t kMinSpanSide = 15;

// The spans of a square kernel (row-major weights). Empty when its side is
// below kMinSpanSide or when its rows are not mostly constant spans (a
// Gaussian, a bokeh ring, noise).
KernelSpans FindSpans(const std::vector<float>& kern);

}  // namespace dof
