#pragma once
// A chunk's private accumulation: a band of image rows that one worker fills
// without locks and then adds into the shared images, each row under that
// row's lock, once per chunk instead of once per point.
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "motion/splat.h"

namespace splat {

class LocalBand {
 public:
  LocalBand() = default;
  ~LocalBand();
  LocalBand(const LocalBand&) = delete;
  LocalBand& operator=(const LocalBand&) = delete;

  // Covers rows r0 .. r1 of a `width`-wide image; the band is all zero.
  void Reset(int32_t width, int32_t r0, int32_t r1);
  // Whether rows lo .. hi fit without a flush: the band starts at or above
  // lo and has room down to hi. Extends the band to hi.
  bool Extend(int32_t width, int32_t lo, int32_t hi);
  bool Dirty() const { return r1_ >= r0_; }
  // Absolute rows; writes clipped to the band.
  Target Band() const;
  // The splat's lock callable for the band: notes the columns a row gets.
  int Touch(int32_t r, int32_t c0, int32_t c1) {
    auto& s = spans_[size_t(r - r0_)];
    s.first = std::min(s.first, c0);
    s.second = std::max(s.second, c1);
    return 0;
  }

  // Notes columns c0 .. c1 of rows r0 .. r1 as written.
  void TouchRows(int32_t r0, int32_t r1, int32_t c0, int32_t c1) {
    for (int32_t r = r0; r <= r1; ++r) Touch(r, c0, c1);
  }

  // A kernel (side 2h + 1) added at whole pixel (x0, y0), clipped to the
  // image's columns and the band's rows.
  void AddAtPixel(int32_t x0, int32_t y0, float weight, __m128 col, const float* kern, int32_t h) {
    const int32_t d = 2 * h + 1, left = x0 - h, top = y0 - h;
    const int32_t c0 = std::max(left, 0), c1 = std::min(x0 + h, width_ - 1);
    const int32_t r0 = std::max(top, r0_), r1 = std::min(y0 + h, r1_);
    if (c0 > c1 || r0 > r1) return;
    TouchRows(r0, r1, c0, c1);
    const Target t = Band();
    if (h == 0) return AddRunSse(t.ColorRow(r0) + c0, t.NormRow(r0) + c0, kern, 1, weight, col);
    AddBlock({t.ColorRow(r0) + c0, t.NormRow(r0) + c0, t.color_stride, t.norm_stride,
              kern + ptrdiff_t(r0 - top) * d + (c0 - left), d, r1 - r0 + 1, c1 - c0 + 1, weight, col});
  }

  // Up to kMaxRun still samples on one row at whole, consecutive pixels
  // x0, x0 + 1, ... sharing one kernel (side 2h + 1): each output pixel sums
  // the taps of every sample that reaches it in registers and is loaded and
  // stored once, instead of once per tap.
  static constexpr int32_t kMaxRun = 16;
  void AddRunOfStills(int32_t x0, int32_t y0, int32_t count, const float* weights, const __m128* colours,
                      const float* kern, int32_t h) {
    const int32_t d = 2 * h + 1, top = y0 - h;
    const int32_t c0 = std::max(x0 - h, 0), c1 = std::min(x0 + count - 1 + h, width_ - 1);
    const int32_t r0 = std::max(top, r0_), r1 = std::min(y0 + h, r1_);
    if (c0 > c1 || r0 > r1) return;
    TouchRows(r0, r1, c0, c1);
    __m128 weighted[kMaxRun];
    for (int32_t j = 0; j < count; ++j) weighted[j] = _mm_mul_ps(_mm_set1_ps(weights[j]), colours[j]);
    const Target t = Band();
    for (int32_t r = r0; r <= r1; ++r) {
      const float* krow = kern + ptrdiff_t(r - top) * d;
      tessaly_image::color_rgba_f* color = t.ColorRow(r);
      float* norm = t.NormRow(r);
      for (int32_t p = c0; p <= c1; ++p) {
        // Sample j reaches p through kernel column p - (x0 + j) + h.
        const int32_t rel = p - x0 + h;
        const int32_t j0 = std::max(0, rel - d + 1), j1 = std::min(count - 1, rel);
        __m128 acc = _mm_setzero_ps();
        float nacc = 0.0f;
        for (int32_t j = j0; j <= j1; ++j) {
          const float kv = krow[rel - j];
          acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(kv), weighted[j]));
          nacc += kv * weights[j];
        }
        float* c = &color[p].r;
        _mm_store_ps(c, _mm_add_ps(_mm_load_ps(c), acc));
        norm[p] += nacc;
      }
    }
  }

  // The same with wide vectors, for kernels of any size (processors with
  // AVX-512): see RowOfStills.
  void AddRunOfStillsWide(int32_t x0, int32_t y0, int32_t count, const float* weights, const __m128* colours,
                          const float* kern, int32_t h);
  static bool WideRunsOfStills();
  // Points of `count` samples at columns x0 + fx, x0 + 1 + fx, ... on one
  // row position y, all of one weight and kernel (side 2h + 1): the rows of
  // the merged footprint go through RowOfStills. Needs WideRunsOfStills().
  void AddRunOfPointsWide(int32_t x0, float fx, float y, int32_t count, float weight, const __m128* colours,
                          const float* kern, int32_t h);

  // Adds every touched span into `image`, holding `lock(row)` for each row,
  // and zeroes the band again.
  template <class LockRow>
  void Flush(const Target& image, LockRow&& lock) {
    const Target band = Band();
    for (int32_t r = r0_; r <= r1_; ++r) {
      auto& s = spans_[size_t(r - r0_)];
      if (s.first > s.second) continue;
      {
        [[maybe_unused]] auto held = lock(r);
        AddAndClear(image.ColorRow(r) + s.first, image.NormRow(r) + s.first, band.ColorRow(r) + s.first,
                    band.NormRow(r) + s.first, s.second - s.first + 1);
      }
      s = {INT32_MAX, INT32_MIN};
    }
    r1_ = r0_ - 1;
  }

  float* Scratch(size_t n) {
    if (scratch_.size() < n) scratch_.resize(n);
    return scratch_.data();
  }

  static size_t BytesPerPixel() { return sizeof(tessaly_image::color_rgba_f) + sizeof(float); }

  // image += band and band = 0 over n pixels.
  static void AddAndClear(tessaly_image::color_rgba_f* ic, float* in, tessaly_image::color_rgba_f* bc, float* bn,
                          int32_t n) {
    const __m128 zero = _mm_setzero_ps();
    for (int32_t j = 0; j < n; ++j) {
      float* c = &ic[j].r;
      float* b = &bc[j].r;
      _mm_store_ps(c, _mm_add_ps(_mm_load_ps(c), _mm_load_ps(b)));
      _mm_store_ps(b, zero);
      in[j] += bn[j];
      bn[j] = 0.0f;
    }
  }

 private:
  int32_t width_ = 0, r0_ = 0, r1_ = -1;
  size_t capacity_ = 0;  // pixels
  int32_t capacity_rows_ = 0;
  tessaly_image::color_rgba_f* color_ = nullptr;
  float* norm_ = nullptr;
  std::vector<std::pair<int32_t, int32_t>> spans_;
  std::vector<float> scratch_;
  std::vector<float> padded_row_;  // AddRunOfStillsWide's kernel row
  std::vector<float> zero_row_;
};

// Bands kept for a frame's chunks. A worker takes the band that already
// covers the rows its chunk writes (the previous chunk's, usually: chunks
// come in order within a worker's range), so a band is added into the image
// once per run of chunks rather than once per chunk.
class BandPool {
 public:
  // A band covering rows lo .. hi; a band that cannot be extended to them is
  // flushed into `image` first (rows under `lock`).
  template <class LockRow>
  std::unique_ptr<LocalBand> Take(int32_t width, int32_t lo, int32_t hi, const Target& image, LockRow&& lock) {
    std::unique_ptr<LocalBand> band;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      for (auto it = free_.begin(); it != free_.end(); ++it)
        if ((*it)->Extend(width, lo, hi)) {
          band = std::move(*it);
          free_.erase(it);
          return band;
        }
      if (!free_.empty()) {
        band = std::move(free_.back());
        free_.pop_back();
      }
    }
    if (!band) band = std::make_unique<LocalBand>();
    band->Flush(image, lock);
    band->Reset(width, lo, hi);
    return band;
  }
  void Give(std::unique_ptr<LocalBand> band);
  // Adds every band's pending rows into the image (after the pass).
  template <class LockRow>
  void FlushAll(const Target& image, LockRow&& lock) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& b : free_) b->Flush(image, lock);
  }
  void Clear();

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<LocalBand>> free_;
};

}  // namespace splat
