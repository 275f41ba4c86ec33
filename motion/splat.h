#pragma once
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "image/tessaly_image.h"
#include "process/pixel_sample.h"

namespace splat {

// Half the side of bank entry k: 0 for the one-pixel kernel, else at least 1.
inline int32_t KernelHalfSide(int32_t k, float step) {
  if (k == 0) return 0;
  const int32_t h = int32_t(double(std::ceil(float(k) * step)) * 0.5);
  return h > 1 ? h : 1;
}

// floor() for values that Lands() lets through, without a library call.
inline int32_t FloorToInt(float v) {
  const int32_t i = int32_t(v);
  return float(i) > v ? i - 1 : i;
}

// A point lands nowhere when its coordinates are not finite or lie so far
// out that their floor would not fit 32 bits.
inline bool Lands(float x, float y) { return std::fabs(x) < 1.0e9f && std::fabs(y) < 1.0e9f; }
inline bool Lands(const pixel_sample& q) { return Lands(q.x, q.y); }

// Adds a run of n taps: norm[j] += t * kern[j], color[j] += (t * kern[j]) * col.
// The run's length modulo 4 goes first (one tap, then two), then four at a time.
inline void AddRunSse(tessaly_image::color_rgba_f* color, float* norm, const float* kern, int32_t n, float t,
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

// The same with 256-bit vectors and fused multiply-adds, for processors that
// have them (defined in its own unit, built for AVX2).
void AddRunAvx2(tessaly_image::color_rgba_f* color, float* norm, const float* kern, int32_t n, float t, __m128 col);

using AddRunFn = void (*)(tessaly_image::color_rgba_f*, float*, const float*, int32_t, float, __m128);
// The widest AddRun this processor runs.
AddRunFn BestAddRun();

inline void AddRun(tessaly_image::color_rgba_f* color, float* norm, const float* kern, int32_t n, float t,
                   __m128 col) {
  static const AddRunFn best = BestAddRun();
  if (n < 4)
    AddRunSse(color, norm, kern, n, t, col);
  else
    best(color, norm, kern, n, t, col);
}

// A rectangle of taps: `rows` kernel rows of `n` weights each, added at
// `color`/`norm` (rows `*_stride` bytes apart) with one weight and colour.
struct Block {
  tessaly_image::color_rgba_f* color;
  float* norm;
  ptrdiff_t color_stride, norm_stride;
  const float* kern;
  ptrdiff_t kern_stride;  // floats
  int32_t rows, n;
  float weight;
  __m128 col;
};
using AddBlockFn = void (*)(const Block&);
void AddBlockRows(const Block& b);
AddBlockFn BestAddBlock();
inline void AddBlock(const Block& b) {
  static const AddBlockFn best = BestAddBlock();
  best(b);
}

// One footprint row of a run of up to 16 still samples at consecutive
// columns sharing one kernel: output pixel p (counted from the footprint's
// left edge) gets kern[p - j] * weighted[j] from every sample j that reaches
// it, summed in registers, then added once.
struct RowOfStills {
  tessaly_image::color_rgba_f* color;  // the row at the footprint's left edge
  float* norm;
  int32_t p0, p1;     // the footprint columns inside the image
  const float* kpad;  // the kernel row after kStillsPad zeros, with kStillsPad more after it
  int32_t d, count;
  const float* weights;
  const __m128* weighted;  // weights[j] * colour of sample j
};
constexpr int32_t kStillsPad = 16;
// Null when the processor lacks AVX-512.
using RowOfStillsFn = void (*)(const RowOfStills&);
RowOfStillsFn BestRowOfStills();

// Where a splat adds: the two accumulation images by row-0 address and
// stride, and the rows it may write (the image's, or a band of them).
struct Target {
  tessaly_image::color_rgba_f* color_row0;
  float* norm_row0;
  int32_t color_stride, norm_stride;
  int32_t width;
  int32_t row_lo, row_hi;

  tessaly_image::color_rgba_f* ColorRow(int32_t r) const {
    return reinterpret_cast<tessaly_image::color_rgba_f*>(reinterpret_cast<char*>(color_row0) +
                                                          ptrdiff_t(r) * color_stride);
  }
  float* NormRow(int32_t r) const {
    return reinterpret_cast<float*>(reinterpret_cast<char*>(norm_row0) + ptrdiff_t(r) * norm_stride);
  }
};

// The straightforward splat: four bilinear copies of the point's kernel
// (side 2h + 1), each row of each copy added under `lock(row, c0, c1)`,
// which returns an object holding that row's lock (or nothing when no other
// thread writes there) for the columns c0 to c1.
template <class LockRow>
void FourCopies(const Target& t, const pixel_sample& q, const float* kern, int32_t h, LockRow&& lock) {
  const int32_t d = 2 * h + 1;
  const __m128 col = _mm_load_ps(&q.color.r);
  const int32_t x0 = int32_t(std::floor(q.x)), y0 = int32_t(std::floor(q.y));
  const float fx = q.x - float(x0), fy = q.y - float(y0);
  for (int32_t dy = 0; dy < 2; ++dy) {
    const float wy = dy == 0 ? 1.0f - fy : fy;
    const int32_t cy = y0 + dy;
    const int32_t r0 = std::max(cy - h, t.row_lo), r1 = std::min(cy + h, t.row_hi);
    if (!(wy > 0.0f) || r0 > r1) continue;
    for (int32_t dx = 0; dx < 2; ++dx) {
      const float wx = dx == 0 ? 1.0f - fx : fx;
      const int32_t cx = x0 + dx;
      const int32_t c0 = std::max(cx - h, 0), c1 = std::min(cx + h, t.width - 1);
      if (!(wx > 0.0f) || c0 > c1) continue;
      const float w = (wx * q.weight) * wy;
      for (int32_t r = r0; r <= r1; ++r) {
        const float* krow = kern + size_t(r - (cy - h)) * size_t(d) + size_t(c0 - (cx - h));
        [[maybe_unused]] auto held = lock(r, c0, c1);
        AddRunSse(t.ColorRow(r) + c0, t.NormRow(r) + c0, krow, c1 - c0 + 1, w, col);
      }
    }
  }
}

// The four bilinear copies added as one footprint of side d (+1 along an
// axis with a fractional position), each row under one `lock(row, c0, c1)` hold.
// `scratch` holds at least ScratchSize(h) floats, the second half zero. Equal to FourCopies within float
// rounding; identical for points at integer positions.
inline size_t ScratchSize(int32_t h) { return 2 * size_t(2 * h + 2); }

template <class LockRow>
void AtPixel(const Target& t, int32_t x0, int32_t y0, float weight, __m128 col, const float* kern, int32_t h,
             LockRow&& lock) {
  const int32_t d = 2 * h + 1;
  const int32_t left = x0 - h, top = y0 - h;
  const int32_t c0 = std::max(left, 0), c1 = std::min(x0 + h, t.width - 1);
  const int32_t r0 = std::max(top, t.row_lo), r1 = std::min(y0 + h, t.row_hi);
  for (int32_t r = r0; r <= r1; ++r) {
    if (c0 > c1) return;
    [[maybe_unused]] auto held = lock(r, c0, c1);
    AddRun(t.ColorRow(r) + c0, t.NormRow(r) + c0, kern + size_t(r - top) * size_t(d) + size_t(c0 - left), c1 - c0 + 1,
           weight, col);
  }
}

// Merged for the one-pixel kernel (weight k) at (x, y): up to four taps.
template <class LockRow>
void OnePixel(const Target& t, float x, float y, float weight, __m128 col, float k, LockRow&& lock) {
  const int32_t x0 = FloorToInt(x), y0 = FloorToInt(y);
  const float fx = x - float(x0), fy = y - float(y0);
  const int32_t c0 = std::max(x0, 0), c1 = std::min(fx > 0.0f ? x0 + 1 : x0, t.width - 1);
  if (c0 > c1) return;
  const float wx[2] = {1.0f - fx, fx}, wy[2] = {1.0f - fy, fy};
  const int32_t rows = fy > 0.0f ? 2 : 1;
  for (int32_t dy = 0; dy < rows; ++dy) {
    const int32_t r = y0 + dy;
    if (r < t.row_lo || r > t.row_hi) continue;
    [[maybe_unused]] auto held = lock(r, c0, c1);
    tessaly_image::color_rgba_f* color = t.ColorRow(r);
    float* norm = t.NormRow(r);
    for (int32_t c = c0; c <= c1; ++c) {
      const float v = weight * (wy[dy] * wx[c - x0] * k);
      norm[c] += v;
      float* p = &color[c].r;
      _mm_store_ps(p, _mm_add_ps(_mm_load_ps(p), _mm_mul_ps(_mm_set1_ps(v), col)));
    }
  }
}

// OnePixel for `count` points at whole columns x0, x0 + 1, ... of one row
// position y, point j of colour colours[j], all of one weight: each row the
// points write is one run.
template <class LockRow>
void RowOfPoints(const Target& t, int32_t x0, float y, int32_t count, const __m128* colours, float weight, float k,
                 LockRow&& lock) {
  const int32_t y0 = FloorToInt(y);
  const float fy = y - float(y0);
  const int32_t c0 = std::max(x0, 0), c1 = std::min(x0 + count - 1, t.width - 1);
  if (c0 > c1) return;
  const float wy[2] = {1.0f - fy, fy};
  const int32_t rows = fy > 0.0f ? 2 : 1;
  for (int32_t dy = 0; dy < rows; ++dy) {
    const int32_t r = y0 + dy;
    if (r < t.row_lo || r > t.row_hi) continue;
    [[maybe_unused]] auto held = lock(r, c0, c1);
    const float v = weight * (wy[dy] * 1.0f * k);  // the same product as OnePixel's
    const __m128 vv = _mm_set1_ps(v);
    tessaly_image::color_rgba_f* color = t.ColorRow(r);
    float* norm = t.NormRow(r);
    for (int32_t c = c0; c <= c1; ++c) {
      norm[c] += v;
      float* p = &color[c].r;
      _mm_store_ps(p, _mm_add_ps(_mm_load_ps(p), _mm_mul_ps(vv, colours[c - x0])));
    }
  }
}

template <class LockRow>
void Merged(const Target& t, const pixel_sample& q, const float* kern, int32_t h, float* scratch, LockRow&& lock) {
  const int32_t d = 2 * h + 1;
  const __m128 col = _mm_load_ps(&q.color.r);
  const int32_t x0 = FloorToInt(q.x), y0 = FloorToInt(q.y);
  const float fx = q.x - float(x0), fy = q.y - float(y0);
  const bool frac_x = fx > 0.0f, frac_y = fy > 0.0f;
  if (!frac_x && !frac_y) return AtPixel(t, x0, y0, q.weight, col, kern, h, lock);
  const int32_t nc = d + (frac_x ? 1 : 0), nr = d + (frac_y ? 1 : 0);
  const int32_t left = x0 - h, top = y0 - h;
  const int32_t c0 = std::max(left, 0), c1 = std::min(left + nc - 1, t.width - 1);
  const int32_t r0 = std::max(top, t.row_lo), r1 = std::min(top + nr - 1, t.row_hi);
  if (c0 > c1 || r0 > r1) return;
  const float wx0 = 1.0f - fx, wx1 = fx, wy0 = 1.0f - fy, wy1 = fy;
  const float a0 = wy0 * wx0, a1 = wy0 * wx1, b0 = wy1 * wx0, b1 = wy1 * wx1;
  const float* zeros = scratch + d + 1;
  for (int32_t r = r0; r <= r1; ++r) {
    const int32_t i = r - top;  // footprint row
    // Row i of the footprint: kernel row i (weight wy0) over kernel row
    // i - 1 (weight wy1), each shifted right by one column for wx1. Rows
    // outside the kernel read as the zero row kept after the scratch row.
    const float* a = i < d ? kern + size_t(i) * size_t(d) : zeros;
    const float* b = frac_y && i >= 1 ? kern + size_t(i - 1) * size_t(d) : zeros;
    scratch[0] = a0 * a[0] + b0 * b[0];
    for (int32_t c = 1; c < d; ++c) scratch[c] = (a0 * a[c] + a1 * a[c - 1]) + (b0 * b[c] + b1 * b[c - 1]);
    if (frac_x) scratch[d] = a1 * a[d - 1] + b1 * b[d - 1];
    [[maybe_unused]] auto held = lock(r, c0, c1);
    AddRun(t.ColorRow(r) + c0, t.NormRow(r) + c0, scratch + (c0 - left), c1 - c0 + 1, q.weight, col);
  }
}

}  // namespace splat
