#pragma once
// A row sink (see motion/splat.h) that sums in double precision: the
// straightforward order that the blur pass is compared with.
#include <cstdint>
#include <vector>

#include "image/tessaly_image.h"

namespace testing_support {

struct DoubleRows {
  std::vector<double>* planes;  // red, green, blue, alpha, weight; width x rows
  int32_t width, row_lo, row_hi;
  void Add(int32_t r, int32_t c0, const float* kern, int32_t n, float t, const tessaly_image::color_rgba_f& col) {
    for (int32_t j = 0; j < n; ++j) Tap(r, c0 + j, double(t) * double(kern[j]), col);
  }
  void AddPoints(int32_t r, int32_t c0, int32_t n, float v, const tessaly_image::color_rgba_f* colours) {
    for (int32_t j = 0; j < n; ++j) Tap(r, c0 + j, double(v), colours[j]);
  }
  void Tap(int32_t r, int32_t c, double v, const tessaly_image::color_rgba_f& col) {
    const size_t i = size_t(r) * size_t(width) + size_t(c);
    planes[0][i] += v * col.r;
    planes[1][i] += v * col.g;
    planes[2][i] += v * col.b;
    planes[3][i] += v * col.a;
    planes[4][i] += v;
  }
};

}  // namespace testing_support
