#include "motion/local_band.h"

#include "host/Memory.h"

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <new>

namespace splat {

LocalBand::~LocalBand() {
  std::free(color_);
  std::free(norm_);
}

namespace {
// Rows a band keeps beyond what its first chunk needs, so that the next
// chunks (the rows below) still fit.
constexpr int32_t kSpareRows = 48;
}  // namespace

bool LocalBand::Extend(int32_t width, int32_t lo, int32_t hi) {
  if (width != width_ || lo < r0_ || hi - r0_ + 1 > capacity_rows_) return false;
  if (hi > r1_) {
    spans_.resize(size_t(hi - r0_ + 1), {INT32_MAX, INT32_MIN});
    r1_ = hi;
  }
  return true;
}

void LocalBand::Reset(int32_t width, int32_t r0, int32_t r1) {
  const int32_t rows = r1 - r0 + 1 + kSpareRows;
  const size_t pixels = size_t(width) * size_t(rows);
  if (pixels > capacity_) {
    std::free(color_);
    std::free(norm_);
    color_ = nullptr;
    norm_ = nullptr;
    capacity_ = 0;
    const size_t cbytes = pixels * sizeof(tessaly_image::color_rgba_f);
    const size_t nbytes = (pixels * sizeof(float) + 15) / 16 * 16;
    color_ = static_cast<tessaly_image::color_rgba_f*>(AllocateAligned(cbytes));
    norm_ = static_cast<float*>(AllocateAligned(nbytes));
    if (!color_ || !norm_) throw std::bad_alloc();
    std::memset(static_cast<void*>(color_), 0, cbytes);
    std::memset(norm_, 0, nbytes);
    capacity_ = pixels;
  }
  capacity_rows_ = int32_t(capacity_ / size_t(std::max(width, 1)));
  width_ = width;
  r0_ = r0;
  r1_ = r1;
  spans_.assign(size_t(r1 - r0 + 1), {INT32_MAX, INT32_MIN});
}

Target LocalBand::Band() const {
  // Row-0 addresses placed so that absolute row r lands on band row r - r0.
  const int32_t cstride = width_ * int32_t(sizeof(tessaly_image::color_rgba_f));
  const int32_t nstride = width_ * int32_t(sizeof(float));
  auto* c0 = reinterpret_cast<tessaly_image::color_rgba_f*>(reinterpret_cast<char*>(color_) -
                                                            ptrdiff_t(r0_) * cstride);
  auto* n0 = reinterpret_cast<float*>(reinterpret_cast<char*>(norm_) - ptrdiff_t(r0_) * nstride);
  return {c0, n0, cstride, nstride, width_, r0_, r1_};
}

void BandPool::Give(std::unique_ptr<LocalBand> band) {
  std::lock_guard<std::mutex> lock(mutex_);
  free_.push_back(std::move(band));
}

void BandPool::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  free_.clear();
}

}  // namespace splat

namespace splat {

void LocalBand::AddRunOfStillsWide(int32_t x0, int32_t y0, int32_t count, const float* weights,
                                   const __m128* colours, const float* kern, int32_t h) {
  static const RowOfStillsFn row_of_stills = BestRowOfStills();
  const int32_t d = 2 * h + 1, top = y0 - h, left = x0 - h;
  const int32_t c0 = std::max(left, 0), c1 = std::min(x0 + count - 1 + h, width_ - 1);
  const int32_t r0 = std::max(top, r0_), r1 = std::min(y0 + h, r1_);
  if (c0 > c1 || r0 > r1) return;
  TouchRows(r0, r1, c0, c1);
  __m128 weighted[kMaxRun];
  for (int32_t j = 0; j < count; ++j) weighted[j] = _mm_mul_ps(_mm_set1_ps(weights[j]), colours[j]);
  padded_row_.assign(size_t(d + 2 * kStillsPad), 0.0f);
  const Target t = Band();
  for (int32_t r = r0; r <= r1; ++r) {
    const float* krow = kern + ptrdiff_t(r - top) * d;
    std::copy(krow, krow + d, padded_row_.begin() + kStillsPad);
    row_of_stills({t.ColorRow(r) + left, t.NormRow(r) + left, c0 - left, c1 - left, padded_row_.data(), d, count,
                   weights, weighted});
  }
}

void LocalBand::AddRunOfPointsWide(int32_t x0, float fx, float y, int32_t count, float weight,
                                   const __m128* colours, const float* kern, int32_t h) {
  static const RowOfStillsFn row_of_stills = BestRowOfStills();
  const int32_t d = 2 * h + 1, y0 = FloorToInt(y), top = y0 - h, left = x0 - h;
  const float fy = y - float(y0);
  const bool frac_x = fx > 0.0f, frac_y = fy > 0.0f;
  const int32_t nc = d + (frac_x ? 1 : 0), nr = d + (frac_y ? 1 : 0);
  const int32_t c0 = std::max(left, 0), c1 = std::min(x0 + count - 1 + (nc - 1 - h), width_ - 1);
  const int32_t r0 = std::max(top, r0_), r1 = std::min(top + nr - 1, r1_);
  if (c0 > c1 || r0 > r1) return;
  TouchRows(r0, r1, c0, c1);
  float weights[kMaxRun];
  __m128 weighted[kMaxRun];
  for (int32_t j = 0; j < count; ++j) {
    weights[j] = weight;
    weighted[j] = _mm_mul_ps(_mm_set1_ps(weight), colours[j]);
  }
  // Footprint row i as Merged builds it: kernel row i (weight 1 - fy) over
  // kernel row i - 1 (weight fy), each shifted one column right for fx.
  const float wx0 = 1.0f - fx, wx1 = fx, wy0 = 1.0f - fy, wy1 = fy;
  const float a0 = wy0 * wx0, a1 = wy0 * wx1, b0 = wy1 * wx0, b1 = wy1 * wx1;
  padded_row_.assign(size_t(nc + 2 * kStillsPad), 0.0f);
  zero_row_.assign(size_t(d), 0.0f);
  float* row = padded_row_.data() + kStillsPad;
  const Target t = Band();
  for (int32_t r = r0; r <= r1; ++r) {
    const int32_t i = r - top;
    const float* a = i < d ? kern + ptrdiff_t(i) * d : zero_row_.data();
    const float* b = frac_y && i >= 1 ? kern + ptrdiff_t(i - 1) * d : zero_row_.data();
    row[0] = a0 * a[0] + b0 * b[0];
    for (int32_t c = 1; c < d; ++c) row[c] = (a0 * a[c] + a1 * a[c - 1]) + (b0 * b[c] + b1 * b[c - 1]);
    if (frac_x) row[d] = a1 * a[d - 1] + b1 * b[d - 1];
    row_of_stills({t.ColorRow(r) + left, t.NormRow(r) + left, c0 - left, c1 - left, padded_row_.data(), nc, count,
                   weights, weighted});
  }
}

bool LocalBand::WideRunsOfStills() { return BestRowOfStills() != nullptr; }

}  // namespace splat
