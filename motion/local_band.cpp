#include "motion/local_band.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "image/aligned_memory.h"

namespace splat {

LocalBand::~LocalBand() {
  for (double* p : planes_) std::free(p);
}

void LocalBand::Reset(int32_t w, int32_t r0, int32_t r1) {
  const size_t pixels = size_t(w) * size_t(std::max(r1 - r0 + 1, 0));
  if (pixels > capacity_) {
    for (double*& p : planes_) {
      std::free(p);
      p = nullptr;
    }
    capacity_ = 0;
    for (double*& p : planes_) {
      p = static_cast<double*>(AllocateAligned(pixels * sizeof(double)));
      if (!p) throw std::bad_alloc();
      std::memset(p, 0, pixels * sizeof(double));
    }
    capacity_ = pixels;
  }
  width = w;
  row_lo = r0;
  row_hi = r1;
  dirty_ = false;
  spans_.assign(size_t(std::max(r1 - r0 + 1, 0)), {INT32_MAX, INT32_MIN});
}

void LocalBand::RunRow(int32_t r, int32_t left, int32_t c0, int32_t c1, const float* row, int32_t n, int32_t count,
                       const float* weights, const float* weighted) {
  std::copy(row, row + n, padded_row_.begin() + kStillsPad);
  MarkWritten(r, c0, c1);
  AddRowOfStills({At(r, c0), c0 - left, c1 - c0 + 1, padded_row_.data(), n, count, weights, weighted});
}

void LocalBand::AddRunOfStills(int32_t x0, int32_t y0, int32_t count, const float* weights, const Colour* colours,
                               const float* kern, int32_t h) {
  const int32_t d = 2 * h + 1, top = y0 - h, left = x0 - h;
  const int32_t c0 = std::max(left, 0), c1 = std::min(x0 + count - 1 + h, width - 1);
  const int32_t r0 = std::max(top, row_lo), r1 = std::min(y0 + h, row_hi);
  if (c0 > c1 || r0 > r1) return;
  float weighted[4 * kMaxRun];
  for (int32_t j = 0; j < count; ++j) {
    weighted[4 * j] = weights[j] * colours[j].r;
    weighted[4 * j + 1] = weights[j] * colours[j].g;
    weighted[4 * j + 2] = weights[j] * colours[j].b;
    weighted[4 * j + 3] = weights[j] * colours[j].a;
  }
  padded_row_.assign(size_t(d + 2 * kStillsPad), 0.0f);
  for (int32_t r = r0; r <= r1; ++r)
    RunRow(r, left, c0, c1, kern + ptrdiff_t(r - top) * d, d, count, weights, weighted);
}

void LocalBand::AddRunOfPoints(int32_t x0, float fx, float y, int32_t count, float weight, const Colour* colours,
                               const float* kern, int32_t h) {
  const int32_t d = 2 * h + 1, y0 = FloorToInt(y), top = y0 - h, left = x0 - h;
  const float fy = y - float(y0);
  const int32_t nc = d + (fx > 0.0f ? 1 : 0), nr = d + (fy > 0.0f ? 1 : 0);
  const int32_t c0 = std::max(left, 0), c1 = std::min(x0 + count - 1 + (nc - 1 - h), width - 1);
  const int32_t r0 = std::max(top, row_lo), r1 = std::min(top + nr - 1, row_hi);
  if (c0 > c1 || r0 > r1) return;
  float weights[kMaxRun], weighted[4 * kMaxRun];
  for (int32_t j = 0; j < count; ++j) {
    weights[j] = weight;
    weighted[4 * j] = weight * colours[j].r;
    weighted[4 * j + 1] = weight * colours[j].g;
    weighted[4 * j + 2] = weight * colours[j].b;
    weighted[4 * j + 3] = weight * colours[j].a;
  }
  padded_row_.assign(size_t(nc + 2 * kStillsPad), 0.0f);
  zero_row_.assign(size_t(d), 0.0f);
  std::vector<float>& row = footprint_row_;
  if (row.size() < size_t(nc)) row.assign(size_t(nc), 0.0f);
  for (int32_t r = r0; r <= r1; ++r) {
    FootprintRow(kern, d, r - top, fx, fy, zero_row_.data(), row.data());
    RunRow(r, left, c0, c1, row.data(), nc, count, weights, weighted);
  }
}

}  // namespace splat
