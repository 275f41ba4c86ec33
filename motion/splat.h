#pragma once
#include <immintrin.h>

#include <cmath>
#include <cstdint>

#include "image/tessaly_image.h"

namespace splat {

// Half the side of bank entry k: 0 for the one-pixel kernel, else at least 1.
inline int32_t KernelHalfSide(int32_t k, float step) {
  if (k == 0) return 0;
  const int32_t h = int32_t(double(std::ceil(float(k) * step)) * 0.5);
  return h > 1 ? h : 1;
}

// Adds a run of n taps: norm[j] += t * kern[j], color[j] += (t * kern[j]) * col.
// The run's length modulo 4 goes first (one tap, then two), then four at a time.
inline void AddRun(tessaly_image::color_rgba_f* color, float* norm, const float* kern, int32_t n, float t,
                   __m128 col) {
  auto tap = [&](int32_t j) {
    const float v = t * kern[j];
    norm[j] += v;
    float* c = &color[j].r;
    _mm_store_ps(c, _mm_add_ps(_mm_load_ps(c), _mm_mul_ps(_mm_set1_ps(v), col)));
  };
  int32_t j = 0;
  if (n & 1) tap(j++);
  if (n & 2) {
    tap(j++);
    tap(j++);
  }
  for (; j < n; j += 4) {
    tap(j);
    tap(j + 1);
    tap(j + 2);
    tap(j + 3);
  }
}

}  // namespace splat
