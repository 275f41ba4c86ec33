#pragma once
// Kernels that are flat inside their outline ("Disk" and "Polygon" without
// "BadBokeh", and any blur image of that form): each row is a rim run of
// taps, a constant span and a rim run. Along a row such a kernel's column
// differences (each weight less the one left of it) vanish inside the span,
// so a pass adds only the differences at the rims into a difference image,
// whose running sum along each row gives the kernel: a large kernel costs
// about its perimeter instead of its area.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dof {

// Zeros before and after each stretch of differences in `deltas`, so that
// vector reads a little past a stretch's ends read zeros.
constexpr size_t kDeltaPad = 24;

// One kernel row as column differences: columns [a0, a1) and [b0, b1)
// (b0 == b1 when the row has no span), their values in the kernel's
// `deltas` from `a` and from `b`.
struct SpanRow {
  int32_t a0, a1, b0, b1;
  size_t a, b;
};

// A kernel's rows as column differences; empty when the kernel goes tap by
// tap.
struct KernelSpans {
  std::vector<SpanRow> rows;
  std::vector<double> deltas;
  bool Empty() const { return rows.empty(); }
};

// Smallest kernel side added as spans: below it the taps are as cheap as
// the differences and their running sums.
constexpr int32_t kMinSpanSide = 33;

// The spans of a square kernel (row-major weights). Empty when its side is
// below kMinSpanSide or when its rows are not mostly constant spans (a
// Gaussian, a bokeh ring, noise).
KernelSpans FindSpans(const std::vector<float>& kern);

}  // namespace dof
