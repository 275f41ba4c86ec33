#pragma once
// A chunk's private accumulation: a band of image rows that one worker fills
// without locks, kept as five planes (red, green, blue, alpha, weight) of
// doubles so that every add is a plain vector stream and a pixel's many
// small additions keep their precision, then added into the shared images,
// each row under that row's lock. Span kernels wait in the band's span
// queue for the pass to add them into the frame's column differences.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "image/aligned_memory.h"
#include "motion/span_queue.h"
#include "motion/splat.h"
#include "motion/vector_kernels.h"

namespace splat {

class MovingGroup;

class LocalBand {
 public:
  LocalBand() = default;
  ~LocalBand();
  LocalBand(const LocalBand&) = delete;
  LocalBand& operator=(const LocalBand&) = delete;

  // Covers rows r0 .. r1 of a `width`-wide image; the band is all zero.
  // Without `taps` (a chunk whose kernels all go as spans) the planes are
  // neither kept nor written: only the span queue is used.
  void Reset(int32_t width, int32_t r0, int32_t r1, bool taps = true);

  // The sink interface (see splat.h).
  int32_t width = 0, row_lo = 0, row_hi = -1;
  void Add(int32_t r, int32_t c0, const float* kern, int32_t n, float t, const Colour& col) {
    MarkWritten(r, c0, c0 + n - 1);
    AddKernelRun(At(r, c0), kern, n, t, col);
  }
  void AddPoints(int32_t r, int32_t c0, int32_t n, float v, const Colour* colours) {
    MarkWritten(r, c0, c0 + n - 1);
    const PlanarRun p = At(r, c0);
    // Longer rows in vectors (the same sums); single points without the call.
    if (n >= kMinPointRun) return AddPointRun(p, colours, n, v);
    for (int32_t j = 0; j < n; ++j) {
      const double dv = v;
      p.plane[4][j] += dv;
      p.plane[0][j] += dv * colours[j].r;
      p.plane[1][j] += dv * colours[j].g;
      p.plane[2][j] += dv * colours[j].b;
      p.plane[3][j] += dv * colours[j].a;
    }
  }

  static constexpr int32_t kMinPointRun = 4;

  // Up to kMaxRun samples on one row at whole, consecutive pixels x0,
  // x0 + 1, ... sharing one kernel (side 2h + 1): each output pixel sums the
  // taps of every sample that reaches it before it is added once.
  static constexpr int32_t kMaxRun = kStillsPad;
  // Runs under span kernels may be longer: their differences are gathered
  // in vectors along the run, so a longer run writes fewer of them per
  // sample (a run's part of a row is its length plus the rim's).
  static constexpr int32_t kMaxSpanRun = 1024;
  void AddRunOfStills(int32_t x0, int32_t y0, int32_t count, const float* weights, const Colour* colours,
                      const float* kern, int32_t h);
  // Points of `count` samples at columns x0 + fx, x0 + 1 + fx, ... on one
  // row position y, all of one weight and kernel (side 2h + 1): the rows of
  // their merged footprints summed the same way.
  void AddRunOfPoints(int32_t x0, float fx, float y, int32_t count, float weight, const Colour* colours,
                      const float* kern, int32_t h);

  // Streaks' footprints as weights alone: the points of a walked streak
  // share its colour, so their bilinear copies of the kernel (side 2h + 1,
  // given inside its zero border: see ZeroBordered) are summed in one plane
  // per streak (`streak` < kMaxGatheredStreaks), then added in the colours
  // once (AddGatheredWeights) instead of in five planes for every point.
  void AddPointWeights(int32_t streak, const pixel_sample& q, const float* bordered, int32_t h);
  // Adds the weights gathered since the last call, streak s's times
  // colours[s] for s < streaks, and clears them.
  void AddGatheredWeights(const Colour* colours, int32_t streaks);

  // A span kernel (side 2h + 1, spans `sp`) for `count` (at most kMaxSpanRun)
  // samples at whole pixels x0, x0 + 1, ... of row y0, sample j weighted
  // weights[j]: AddRunOfStills for span kernels.
  void AddSpanStills(int32_t x0, int32_t y0, int32_t count, const float* weights, const Colour* colours, int32_t h,
                     const dof::KernelSpans& sp);
  // AddRunOfPoints for span kernels (at most kMaxSpanRun samples): one copy
  // of the kernel for each of the point's bilinear neighbours.
  void AddSpanPoints(int32_t x0, float fx, float y, int32_t count, float weight, const Colour* colours, int32_t h,
                     const dof::KernelSpans& sp);

  // Streaks along x under a span kernel: `count` (at most kMaxSpanRun)
  // samples, sample j's `length` points at columns x0 + j, x0 + j + 1, ...
  // of row position y, each point of weight `weight` in colours[j]. One box
  // along the row, whatever the length (see SpanCopy).
  void AddSpanBoxes(int32_t x0, float y, int32_t count, int32_t length, float weight, const Colour* colours,
                    int32_t h, const dof::KernelSpans& sp);

  // The span kernels queued since Reset, for the pass to add into the
  // frame's column differences (it may swap the queue for an empty one).
  SpanQueue& Spans() { return spans_; }

  bool Dirty() const { return dirty_; }
  // Adds every touched block of columns into `image`, holding `lock(row)`
  // for each row, and zeroes the band again. Untouched columns inside a
  // block hold zeros, which leave the image as it was.
  template <class LockRow>
  void Flush(const Target& image, LockRow&& lock) {
    if (!dirty_) return;
    for (int32_t r = row_lo; r <= row_hi; ++r) {
      uint64_t blocks = written_blocks_[size_t(r - row_lo)];
      if (!blocks) continue;
      [[maybe_unused]] auto held = lock(r);
      while (blocks) {
        const int32_t b0 = __builtin_ctzll(blocks);
        const uint64_t from_b0 = blocks >> b0;
        const int32_t run = ~from_b0 ? __builtin_ctzll(~from_b0) : 64 - b0;
        const int32_t c0 = b0 << block_shift_;
        const int32_t c1 = int32_t(std::min((int64_t(b0 + run) << block_shift_) - 1, int64_t(width) - 1));
        AddBandRunAndClear(image.ColorRow(r) + c0, image.NormRow(r) + c0, At(r, c0), c1 - c0 + 1);
        blocks = b0 + run < 64 ? blocks & (~uint64_t(0) << (b0 + run)) : 0;
      }
      written_blocks_[size_t(r - row_lo)] = 0;
    }
    dirty_ = false;
  }

  // Memory the band's planes hold.
  size_t Bytes() const { return capacity_ * 5 * sizeof(double) + weights_capacity_ * kMaxGatheredStreaks * sizeof(float); }

  // The group its moving samples gather in, kept with the band.
  MovingGroup& Moving();

  // Room for one run of samples' weights and colours (kMaxSpanRun each).
  struct RunStore {
    float* weights;
    Colour* colours;
  };
  RunStore Runs() {
    run_weights_.resize(kMaxSpanRun);
    run_colours_.resize(kMaxSpanRun);
    return {run_weights_.data(), run_colours_.data()};
  }

  float* Scratch(size_t n) {
    if (scratch_.size() < n) scratch_.assign(n, 0.0f);
    return scratch_.data();
  }

 private:
  // Notes columns c0 .. c1 of row r as written: the blocks of columns that
  // hold them. A chunk that wraps from one image row's end to the next's
  // start writes two stretches of a band row; one first-to-last interval
  // would have its flush cross the whole width between them.
  void MarkWritten(int32_t r, int32_t c0, int32_t c1) {
    const int32_t b0 = c0 >> block_shift_, b1 = c1 >> block_shift_;
    written_blocks_[size_t(r - row_lo)] |= (~uint64_t(0) << b0) & (~uint64_t(0) >> (63 - b1));
    dirty_ = true;
  }
  // Notes columns c0 .. c1 of rows r0 .. r1 as holding streak weights.
  void MarkWeights(int32_t r0, int32_t r1, int32_t c0, int32_t c1) {
    // Firsts and lasts in arrays of their own: the loops run in vectors.
    int32_t* first = weight_first_.data() + (r0 - row_lo);
    int32_t* last = weight_last_.data() + (r0 - row_lo);
    for (int32_t i = 0; i <= r1 - r0; ++i) first[i] = std::min(first[i], c0);
    for (int32_t i = 0; i <= r1 - r0; ++i) last[i] = std::max(last[i], c1);
    weight_rows_ = {std::min(weight_rows_.first, r0), std::max(weight_rows_.second, r1)};
  }
  float* WeightsAt(int32_t streak, int32_t r, int32_t c) const {
    return weights_[streak] + size_t(r - row_lo) * size_t(width) + size_t(c);
  }
  PlanarRun At(int32_t r, int32_t c) const {
    const size_t o = size_t(r - row_lo) * size_t(width) + size_t(c);
    return {{planes_[0] + o, planes_[1] + o, planes_[2] + o, planes_[3] + o, planes_[4] + o}};
  }
  // A span kernel's footprint at (x0 + fx, y) for a run of samples (sample
  // j weighted weights[j], or `weight` for all), kept in the span queue.
  // Each sample a streak of `length` points along the row (see SpanCopy).
  void QueueSpanCopy(int32_t x0, float fx, float y, int32_t count, const float* weights, float weight,
                     const Colour* colours, int32_t h, const dof::KernelSpans& sp, int32_t length = 1);
  // One footprint row of a run: sums through AddRowOfStills, into band row
  // r and, when `also_r` is not negative, the same sums into row also_r.
  // The row's zero ends are left out unless `every_tap` (a sample in a
  // non-finite colour, where zero times it is not zero).
  void RunRow(int32_t r, int32_t left, int32_t c0, int32_t c1, const float* row, int32_t n, int32_t count,
              const float* weights, const float* weighted, const float* planar, int32_t also_r = -1,
              bool every_tap = false);

  double* planes_[5] = {};  // red, green, blue, alpha, weight
  ZeroedBlock planes_block_;  // holds the five
  size_t capacity_ = 0;      // pixels per plane
  // Gathered streaks' weights, made on first use. Float is enough: a pixel
  // takes one sum from each of at most 64 points of a streak (see
  // MovingGroup::WalkAsWeights) before the weights go into the double planes.
  float* weights_[kMaxGatheredStreaks] = {};
  ZeroedBlock weights_block_;  // holds them all
  size_t weights_capacity_ = 0;
  SpanQueue spans_;
  bool dirty_ = false;
  // Per row, bit b: some column of block b (columns b << block_shift_ on)
  // was written. Blocks are as narrow as 64 of them allow.
  std::vector<uint64_t> written_blocks_;
  int32_t block_shift_ = 0;
  // Per row, the columns from first to last hold gathered weights.
  std::vector<int32_t> weight_first_, weight_last_;
  std::pair<int32_t, int32_t> weight_rows_{INT32_MAX, INT32_MIN};
  std::vector<float> scratch_;
  std::vector<float> run_weights_;
  std::vector<Colour> run_colours_;
  std::unique_ptr<MovingGroup> moving_;
  std::vector<float> padded_row_;
  // Room for a run's RowOfStills::planar; all zeros between runs.
  struct alignas(64) {
    float v[5 * kStillsPlaneStride] = {};
  } stills_planes_;
  std::vector<float> footprint_row_;
};

}  // namespace splat
