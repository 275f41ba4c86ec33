#pragma once
// The splat: a point of a streak added, through its depth-of-field kernel
// (side 2h + 1) and bilinear weights, into accumulation rows. The footprint
// functions here are written against a row sink, which either holds a
// chunk's private band (see LocalBand) or the shared images under their
// row locks (see ImageRows).
//
// A sink offers: width (columns 0 .. width - 1), row_lo .. row_hi (the rows
// it takes), Add(r, c0, kern, n, t, col) (weights t * kern[j] at columns
// c0 + j of row r, each times col into the colour) and AddPoints(r, c0, n,
// v, colours) (weight v at columns c0 + j, colour j times v).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/tessaly_image.h"
#include "motion/vector_kernels.h"
#include "process/pixel_sample.h"

namespace splat {

using Colour = tessaly_image::color_rgba_f;

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

// Floats of scratch that MergedFootprint needs for a kernel of half side h.
inline size_t ScratchSize(int32_t h) { return size_t(2 * h + 2); }

// The kernel at whole pixel (x0, y0), clipped to the sink.
template <class Sink>
void AtPixel(Sink& s, int32_t x0, int32_t y0, float weight, const Colour& col, const float* kern, int32_t h) {
  const int32_t d = 2 * h + 1, left = x0 - h, top = y0 - h;
  const int32_t c0 = std::max(left, 0), c1 = std::min(x0 + h, s.width - 1);
  const int32_t r0 = std::max(top, s.row_lo), r1 = std::min(y0 + h, s.row_hi);
  if (c0 > c1) return;
  for (int32_t r = r0; r <= r1; ++r)
    s.Add(r, c0, kern + size_t(r - top) * size_t(d) + size_t(c0 - left), c1 - c0 + 1, weight, col);
}

// The one-pixel kernel (weight k) at (x, y): up to four taps.
template <class Sink>
void OnePixel(Sink& s, float x, float y, float weight, const Colour& col, float k) {
  const int32_t x0 = FloorToInt(x), y0 = FloorToInt(y);
  const float fx = x - float(x0), fy = y - float(y0);
  const float wx[2] = {1.0f - fx, fx}, wy[2] = {1.0f - fy, fy};
  const int32_t rows = fy > 0.0f ? 2 : 1, cols = fx > 0.0f ? 2 : 1;
  for (int32_t dy = 0; dy < rows; ++dy) {
    const int32_t r = y0 + dy;
    if (r < s.row_lo || r > s.row_hi) continue;
    for (int32_t dx = 0; dx < cols; ++dx) {
      const int32_t c = x0 + dx;
      if (c < 0 || c > s.width - 1) continue;
      const float v = weight * (wy[dy] * wx[dx] * k);
      s.AddPoints(r, c, 1, v, &col);
    }
  }
}

// OnePixel for `count` points at columns x0 + fx, x0 + 1 + fx, ... of one
// row position y, point j of colour colours[j], all of one weight: each of
// the (up to) four bilinear copies is one row of points.
template <class Sink>
void RowOfPoints(Sink& s, int32_t x0, float fx, float y, int32_t count, const Colour* colours, float weight,
                 float k) {
  const int32_t y0 = FloorToInt(y);
  const float fy = y - float(y0);
  const float wx[2] = {1.0f - fx, fx}, wy[2] = {1.0f - fy, fy};
  const int32_t rows = fy > 0.0f ? 2 : 1, cols = fx > 0.0f ? 2 : 1;
  for (int32_t dy = 0; dy < rows; ++dy) {
    const int32_t r = y0 + dy;
    if (r < s.row_lo || r > s.row_hi) continue;
    for (int32_t dx = 0; dx < cols; ++dx) {
      const int32_t first = x0 + dx;
      const int32_t c0 = std::max(first, 0), c1 = std::min(first + count - 1, s.width - 1);
      if (c0 > c1) continue;
      const float v = weight * (wy[dy] * wx[dx] * k);  // the same product as OnePixel's
      s.AddPoints(r, c0, c1 - c0 + 1, v, colours + (c0 - first));
    }
  }
}

// The straightforward splat: four bilinear copies of the point's kernel,
// each clipped to the sink, those with a weight above 0 drawn.
template <class Sink>
void FourCopies(Sink& s, const pixel_sample& q, const float* kern, int32_t h) {
  const int32_t d = 2 * h + 1;
  const int32_t x0 = int32_t(std::floor(q.x)), y0 = int32_t(std::floor(q.y));
  const float fx = q.x - float(x0), fy = q.y - float(y0);
  for (int32_t dy = 0; dy < 2; ++dy) {
    const float wy = dy == 0 ? 1.0f - fy : fy;
    const int32_t cy = y0 + dy;
    const int32_t r0 = std::max(cy - h, s.row_lo), r1 = std::min(cy + h, s.row_hi);
    if (!(wy > 0.0f) || r0 > r1) continue;
    for (int32_t dx = 0; dx < 2; ++dx) {
      const float wx = dx == 0 ? 1.0f - fx : fx;
      const int32_t cx = x0 + dx;
      const int32_t c0 = std::max(cx - h, 0), c1 = std::min(cx + h, s.width - 1);
      if (!(wx > 0.0f) || c0 > c1) continue;
      const float w = (wx * q.weight) * wy;
      for (int32_t r = r0; r <= r1; ++r)
        s.Add(r, c0, kern + size_t(r - (cy - h)) * size_t(d) + size_t(c0 - (cx - h)), c1 - c0 + 1, w, q.color);
    }
  }
}

// Row i of the merged footprint of a point at fraction (fx, fy): kernel row
// i (weight 1 - fy) over kernel row i - 1 (weight fy), each shifted one
// column right for fx; a row past the kernel counts as zeros. Writes d (+1
// with fx) floats.
inline void FootprintRow(const float* kern, int32_t d, int32_t i, float fx, float fy, float* row) {
  const bool frac_x = fx > 0.0f, frac_y = fy > 0.0f;
  const float wx0 = 1.0f - fx, wx1 = fx, wy0 = 1.0f - fy, wy1 = fy;
  const float a0 = wy0 * wx0, a1 = wy0 * wx1, b0 = wy1 * wx0, b1 = wy1 * wx1;
  const float* a = i < d ? kern + size_t(i) * size_t(d) : nullptr;
  const float* b = frac_y && i >= 1 ? kern + size_t(i - 1) * size_t(d) : nullptr;
  // The same sums with a missing row's weights as zeros.
  auto at = [](const float* r, int32_t c) { return r ? r[c] : 0.0f; };
  row[0] = a0 * at(a, 0) + b0 * at(b, 0);
  for (int32_t c = 1; c < d; ++c) row[c] = (a0 * at(a, c) + a1 * at(a, c - 1)) + (b0 * at(b, c) + b1 * at(b, c - 1));
  if (frac_x) row[d] = a1 * at(a, d - 1) + b1 * at(b, d - 1);
}

// The four bilinear copies of a point's kernel added as one footprint of
// side d (+1 along an axis with a fractional position). Equal to the four
// copies within float rounding; identical for points at whole pixels.
// `scratch` holds ScratchSize(h) floats.
template <class Sink>
void MergedFootprint(Sink& s, const pixel_sample& q, const float* kern, int32_t h, float* scratch) {
  const int32_t d = 2 * h + 1;
  const int32_t x0 = FloorToInt(q.x), y0 = FloorToInt(q.y);
  const float fx = q.x - float(x0), fy = q.y - float(y0);
  const bool frac_x = fx > 0.0f, frac_y = fy > 0.0f;
  if (!frac_x && !frac_y) return AtPixel(s, x0, y0, q.weight, q.color, kern, h);
  const int32_t nc = d + (frac_x ? 1 : 0), nr = d + (frac_y ? 1 : 0);
  const int32_t left = x0 - h, top = y0 - h;
  const int32_t c0 = std::max(left, 0), c1 = std::min(left + nc - 1, s.width - 1);
  const int32_t r0 = std::max(top, s.row_lo), r1 = std::min(top + nr - 1, s.row_hi);
  if (c0 > c1 || r0 > r1) return;
  for (int32_t r = r0; r <= r1; ++r) {
    FootprintRow(kern, d, r - top, fx, fy, scratch);
    s.Add(r, c0, scratch + (c0 - left), c1 - c0 + 1, q.weight, q.color);
  }
}

// A kernel (side d) inside a border of zeros one tap wide (side d + 2): a
// point's bilinear copies then read their neighbours' taps without tests
// (and kVectorSlack zeros after it, see MergedCopies).
inline std::vector<float> ZeroBordered(const float* kern, int32_t d) {
  const size_t side = size_t(d) + 2;
  std::vector<float> out(side * side + kVectorSlack, 0.0f);
  for (int32_t i = 0; i < d; ++i) std::copy(kern + size_t(i) * size_t(d), kern + size_t(i + 1) * size_t(d), out.begin() + ptrdiff_t((size_t(i) + 1) * side + 1));
  return out;
}

// The shared accumulation images by row-0 address and stride.
struct Target {
  Colour* color_row0;
  float* norm_row0;
  int32_t color_stride, norm_stride;  // bytes
  int32_t width, height;

  Colour* ColorRow(int32_t r) const {
    return reinterpret_cast<Colour*>(reinterpret_cast<char*>(color_row0) + ptrdiff_t(r) * color_stride);
  }
  float* NormRow(int32_t r) const {
    return reinterpret_cast<float*>(reinterpret_cast<char*>(norm_row0) + ptrdiff_t(r) * norm_stride);
  }
};

// A sink that adds straight into the shared images, each row under the
// lock that `lock(r)` returns (an object holding it while it lives).
template <class LockRow>
struct ImageRows {
  const Target& image;
  LockRow lock;
  int32_t width = image.width, row_lo = 0, row_hi = image.height - 1;

  void Add(int32_t r, int32_t c0, const float* kern, int32_t n, float t, const Colour& col) {
    [[maybe_unused]] auto held = lock(r);
    Colour* c = image.ColorRow(r) + c0;
    float* w = image.NormRow(r) + c0;
    for (int32_t j = 0; j < n; ++j) {
      const float v = t * kern[j];
      w[j] += v;
      c[j].r += v * col.r;
      c[j].g += v * col.g;
      c[j].b += v * col.b;
      c[j].a += v * col.a;
    }
  }
  void AddPoints(int32_t r, int32_t c0, int32_t n, float v, const Colour* colours) {
    [[maybe_unused]] auto held = lock(r);
    Colour* c = image.ColorRow(r) + c0;
    float* w = image.NormRow(r) + c0;
    for (int32_t j = 0; j < n; ++j) {
      w[j] += v;
      c[j].r += v * colours[j].r;
      c[j].g += v * colours[j].g;
      c[j].b += v * colours[j].b;
      c[j].a += v * colours[j].a;
    }
  }
};
template <class LockRow>
ImageRows<LockRow> MakeImageRows(const Target& image, LockRow lock) {
  return ImageRows<LockRow>{image, std::move(lock)};
}

}  // namespace splat
