#include "motion/local_band.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "image/aligned_memory.h"
#include "motion/moving_group.h"

namespace splat {

namespace {

// Makes `planes` hold at least `pixels` zeros each, all in one `block`
// (see StaggeredPlaneBytes).
template <class T, size_t kCount>
void Reserve(T* (&planes)[kCount], ZeroedBlock& block, size_t& capacity, size_t pixels) {
  if (pixels <= capacity) return;
  // Bands pass from chunk to chunk, each needing a few rows more or fewer:
  // room to spare saves a new block at every small step up.
  pixels = std::max(pixels, capacity + capacity / 2);
  for (T*& p : planes) p = nullptr;
  capacity = 0;
  const size_t plane_bytes = pixels <= SIZE_MAX / sizeof(T) ? StaggeredPlaneBytes(pixels * sizeof(T), kCount) : 0;
  if (plane_bytes == 0) throw std::bad_alloc();  // (0 also when kCount of them would overflow)
  block.Reset(plane_bytes * kCount);
  for (size_t c = 0; c < kCount; ++c)
    planes[c] = reinterpret_cast<T*>(static_cast<char*>(block.get()) + c * plane_bytes);
  capacity = pixels;
}

constexpr std::pair<int32_t, int32_t> kNothingWritten{INT32_MAX, INT32_MIN};

// True when some weight or weighted colour (4 floats a sample) of `count`
// samples is infinite or NaN: its exponent bits are all ones. In integers,
// so that the test runs in vectors.
bool AnyNonFinite(int32_t count, const float* weights, const float* weighted) {
  auto flag = [](const float* v, int32_t n) {
    uint32_t seen = 0;
    for (int32_t i = 0; i < n; ++i) {
      uint32_t bits;
      std::memcpy(&bits, v + i, sizeof bits);
      seen |= (bits & 0x7f800000u) + 0x00800000u;  // bit 31 set only by all ones
    }
    return seen;
  };
  return ((flag(weights, count) | flag(weighted, 4 * count)) & 0x80000000u) != 0;
}

// Calls run(first, n) for the stretches of a run of `count` samples between
// those whose weight or weighted colour (4 floats each) is not finite, and
// for each of those alone; false when all are finite. Summed in one run, an
// infinite colour times the zeros past its own kernel row would put NaN in
// its neighbours' pixels.
template <class Run>
bool SplitAtNonFinite(int32_t count, const float* weights, const float* weighted, Run&& run) {
  if (count <= 1 || !AnyNonFinite(count, weights, weighted)) return false;
  auto finite = [&](int32_t j) { return !AnyNonFinite(1, weights + j, weighted + 4 * j); };
  int32_t start = 0;
  for (int32_t j = 0; j < count; ++j)
    if (!finite(j)) {
      if (j > start) run(start, j - start);
      run(j, 1);
      start = j + 1;
    }
  if (start < count) run(start, count - start);
  return true;
}

// RowOfStills::planar for `count` samples (none when not `wanted`), written
// into the band's all-zero planes and taken out again when done.
class StillsPlanes {
 public:
  StillsPlanes(float* planes, bool wanted, int32_t count, const float* weights, const float* weighted)
      : v_(wanted ? planes : nullptr), count_(count) {
    if (!v_) return;
    for (int32_t j = 0; j < count; ++j) {
      for (int c = 0; c < 4; ++c) v_[c * kStillsPlaneStride + kStillsPad + j] = weighted[4 * j + c];
      v_[4 * kStillsPlaneStride + kStillsPad + j] = weights[j];
    }
  }
  ~StillsPlanes() {
    if (v_)
      for (int c = 0; c < 5; ++c) std::fill_n(v_ + c * kStillsPlaneStride + kStillsPad, count_, 0.0f);
  }
  StillsPlanes(const StillsPlanes&) = delete;
  StillsPlanes& operator=(const StillsPlanes&) = delete;
  const float* get() const { return v_; }

 private:
  float* v_;
  int32_t count_;
};

}  // namespace

LocalBand::~LocalBand() = default;

void LocalBand::Reset(int32_t w, int32_t r0, int32_t r1, bool taps) {
  const size_t rows = size_t(std::max(r1 - r0 + 1, 0)), pixels = size_t(w) * rows;
  if (taps) Reserve(planes_, planes_block_, capacity_, pixels);
  width = w;
  row_lo = r0;
  row_hi = r1;
  dirty_ = false;
  written_blocks_.assign(rows, 0);
  block_shift_ = 0;
  while (w > 0 && ((w - 1) >> block_shift_) >= 64) ++block_shift_;
  weight_first_.assign(rows, kNothingWritten.first);
  weight_last_.assign(rows, kNothingWritten.second);
  weight_rows_ = kNothingWritten;
  spans_.Clear();
}

MovingGroup& LocalBand::Moving() {
  if (!moving_) moving_ = std::make_unique<MovingGroup>(*this);
  return *moving_;
}

void LocalBand::AddPointWeights(int32_t streak, const pixel_sample& q, const float* bordered, int32_t h) {
  Reserve(weights_, weights_block_, weights_capacity_, size_t(width) * size_t(row_hi - row_lo + 1) + kVectorSlack);
  const int32_t d = 2 * h + 1, x0 = FloorToInt(q.x), y0 = FloorToInt(q.y);
  const float fx = q.x - float(x0), fy = q.y - float(y0);
  // The footprint: d (+ 1 with a fraction) rows and columns from (left, top).
  const int32_t left = x0 - h, top = y0 - h;
  const int32_t r0 = std::max(top, row_lo), r1 = std::min(top + d - (fy > 0.0f ? 0 : 1), row_hi);
  const int32_t c0 = std::max(left, 0), c1 = std::min(left + d - (fx > 0.0f ? 0 : 1), width - 1);
  if (r0 > r1 || c0 > c1) return;
  MarkWeights(r0, r1, c0, c1);
  const size_t side = size_t(d) + 2;
  const float wy0 = (1.0f - fy) * q.weight, wy1 = fy * q.weight;
  AddMergedCopies({WeightsAt(streak, r0, c0), size_t(width), bordered + size_t(r0 - top + 1) * side + size_t(c0 - left + 1),
                   side, r1 - r0 + 1, c1 - c0 + 1, wy0 * (1.0f - fx), wy0 * fx, wy1 * (1.0f - fx), wy1 * fx});
}

void LocalBand::AddGatheredWeights(const Colour* colours, int32_t streaks) {
  float* rows[kMaxGatheredStreaks];
  for (int32_t r = weight_rows_.first; r <= weight_rows_.second; ++r) {
    int32_t& first = weight_first_[size_t(r - row_lo)];
    int32_t& last = weight_last_[size_t(r - row_lo)];
    if (first > last) continue;
    MarkWritten(r, first, last);
    for (int32_t k = 0; k < streaks; ++k) rows[k] = WeightsAt(k, r, first);
    AddWeightsInColoursAndClear(At(r, first), rows, colours, streaks, last - first + 1);
    first = kNothingWritten.first;
    last = kNothingWritten.second;
  }
  weight_rows_ = kNothingWritten;
}

void LocalBand::QueueSpanCopy(int32_t x0, float fx, float y, int32_t count, const float* weights, float weight,
                              const Colour* colours, int32_t h, const dof::KernelSpans& sp, int32_t length) {
  const int32_t y0 = FloorToInt(y);
  const float fy = y - float(y0);
  const int32_t d = 2 * h + 1, top = y0 - h, left = x0 - h;
  const int32_t rows = d + (fy > 0.0f ? 1 : 0), cols = d + (fx > 0.0f ? 1 : 0);
  if (top > row_hi || top + rows - 1 < row_lo || left > width - 1 || left + count - 1 + length - 1 + cols - 1 < 0) return;
  std::vector<float>& store = spans_.ColourStore();
  const size_t at = store.size();
  auto weight_of = [&](int32_t j) { return weights ? weights[j] : weight; };
  if (count == 1) {
    const float w = weight_of(0);
    store.insert(store.end(), {w * colours[0].r, w * colours[0].g, w * colours[0].b, w * colours[0].a, w});
  } else {
    const size_t stride = size_t(count) + 2 * kRunPad;
    store.resize(at + 5 * stride, 0.0f);
    float* p = store.data() + at + kRunPad;
    for (int32_t j = 0; j < count; ++j) {
      const float w = weight_of(j);
      p[j] = w * colours[j].r;
      p[stride + j] = w * colours[j].g;
      p[2 * stride + j] = w * colours[j].b;
      p[3 * stride + j] = w * colours[j].a;
      p[4 * stride + j] = w;
    }
  }
  spans_.Push({left, top, count, d, fx, fy, 1.0, &sp, at, length});
}

void LocalBand::AddSpanStills(int32_t x0, int32_t y0, int32_t count, const float* weights, const Colour* colours,
                              int32_t h, const dof::KernelSpans& sp) {
  QueueSpanCopy(x0, 0.0f, float(y0), count, weights, 0.0f, colours, h, sp);
}

void LocalBand::AddSpanPoints(int32_t x0, float fx, float y, int32_t count, float weight, const Colour* colours,
                              int32_t h, const dof::KernelSpans& sp) {
  QueueSpanCopy(x0, fx, y, count, nullptr, weight, colours, h, sp);
}

void LocalBand::AddSpanBoxes(int32_t x0, float y, int32_t count, int32_t length, float weight,
                             const Colour* colours, int32_t h, const dof::KernelSpans& sp) {
  QueueSpanCopy(x0, 0.0f, y, count, nullptr, weight, colours, h, sp, length);
}

void LocalBand::RunRow(int32_t r, int32_t left, int32_t c0, int32_t c1, const float* row, int32_t n, int32_t count,
                       const float* weights, const float* weighted, const float* planar, int32_t also_r,
                       bool every_tap) {
  // Only the row's weights from its first to its last above zero: a disk's
  // rows away from its middle are mostly zeros, which add nothing (a zero
  // weight times a finite colour) but cost as much as any other.
  int32_t lo = 0, hi = n - 1;
  while (!every_tap && lo <= hi && !(row[lo] != 0.0f)) ++lo;
  while (!every_tap && hi > lo && !(row[hi] != 0.0f)) --hi;
  if (lo > hi) return;
  left += lo;
  n = hi - lo + 1;
  c0 = std::max(c0, left);
  c1 = std::min(c1, left + n - 1 + count - 1);
  if (c0 > c1) return;
  std::copy(row + lo, row + lo + n, padded_row_.begin() + kStillsPad);
  std::fill(padded_row_.begin() + kStillsPad + n, padded_row_.begin() + kStillsPad + n + kStillsPad, 0.0f);
  MarkWritten(r, c0, c1);
  PlanarRun also{};
  if (also_r >= 0) {
    MarkWritten(also_r, c0, c1);
    also = At(also_r, c0);
  }
  AddRowOfStills({At(r, c0), c0 - left, c1 - c0 + 1, padded_row_.data(), n, count, weights, weighted, also, planar});
}

void LocalBand::AddRunOfStills(int32_t x0, int32_t y0, int32_t count, const float* weights, const Colour* colours,
                               const float* kern, int32_t h) {
  const int32_t d = 2 * h + 1, top = y0 - h, left = x0 - h;
  const int32_t c0 = std::max(left, 0), c1 = std::min(x0 + count - 1 + h, width - 1);
  const int32_t r0 = std::max(top, row_lo), r1 = std::min(y0 + h, row_hi);
  if (c0 > c1 || r0 > r1) return;
  if (h == 0) {
    // The one-pixel kernel: one point a sample.
    MarkWritten(r0, c0, c1);
    return AddPointRun(At(r0, c0), colours + (c0 - x0), c1 - c0 + 1, kern[0], weights + (c0 - x0));
  }
  float weighted[4 * kMaxRun];
  for (int32_t j = 0; j < count; ++j) {
    weighted[4 * j] = weights[j] * colours[j].r;
    weighted[4 * j + 1] = weights[j] * colours[j].g;
    weighted[4 * j + 2] = weights[j] * colours[j].b;
    weighted[4 * j + 3] = weights[j] * colours[j].a;
  }
  // A sample alone goes as a lone still does.
  if (SplitAtNonFinite(count, weights, weighted, [&](int32_t j, int32_t n) {
        if (n == 1) return AtPixel(*this, x0 + j, y0, weights[j], colours[j], kern, h);
        AddRunOfStills(x0 + j, y0, n, weights + j, colours + j, kern, h);
      }))
    return;
  padded_row_.assign(size_t(d + 2 * kStillsPad), 0.0f);
  const StillsPlanes planes(stills_planes_.v, d <= kStillsPad, count, weights, weighted);
  const float* planar = planes.get();
  // Kernels are mostly symmetric top to bottom: a row equal to its mirror
  // row gives both the same sums, worked out once. Each band pixel still
  // takes one addition from the run, so the result is the same.
  auto kernel_row = [&](int32_t r) { return kern + ptrdiff_t(r - top) * d; };
  auto same_row = [&](int32_t a, int32_t b) { return std::memcmp(kernel_row(a), kernel_row(b), sizeof(float) * size_t(d)) == 0; };
  for (int32_t r = r0; r <= r1; ++r) {
    const int32_t mirror = top + (d - 1) - (r - top);
    if (mirror < r && mirror >= r0 && same_row(r, mirror))
      continue;  // added with its mirror
    const bool pair = mirror > r && mirror <= r1 && same_row(r, mirror);
    RunRow(r, left, c0, c1, kernel_row(r), d, count, weights, weighted, planar, pair ? mirror : -1);
  }
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
  if (SplitAtNonFinite(count, weights, weighted, [&](int32_t j, int32_t n) {
        AddRunOfPoints(x0 + j, fx, y, n, weight, colours + j, kern, h);
      }))
    return;
  // A point alone in a non-finite colour takes every tap, zeros too, as a
  // lone point does.
  const bool every_tap = count == 1 && AnyNonFinite(1, weights, weighted);
  padded_row_.assign(size_t(nc + 2 * kStillsPad), 0.0f);
  const StillsPlanes planes(stills_planes_.v, nc <= kStillsPad, count, weights, weighted);
  const float* planar = planes.get();
  std::vector<float>& row = footprint_row_;
  if (row.size() < size_t(nc)) row.assign(size_t(nc), 0.0f);
  for (int32_t r = r0; r <= r1; ++r) {
    FootprintRow(kern, d, r - top, fx, fy, row.data());
    RunRow(r, left, c0, c1, row.data(), nc, count, weights, weighted, planar, -1, every_tap);
  }
}

}  // namespace splat
