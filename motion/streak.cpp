// The blur pass's work: each chunk lays out the streaks of its samples and
// splats every point. A chunk adds its points into a private band of rows
// and then adds the band into the shared images, each row under its lock.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "motion/local_band.h"
#include "motion/moving_group.h"
#include "motion/streak_layout.h"
#include "plugin/Quorvex.h"

namespace {

// Largest band a chunk keeps privately (pixels); a chunk that would need more
// (streaks crossing most of a very large frame) splats straight into the
// shared images instead.
constexpr int64_t kBandBudget = int64_t(8) << 20;


// Rows that the points of sample `p` (kernel half side h) can write.
std::pair<int64_t, int64_t> RowReach(const pixel_sample& p, bool still, int32_t h, bool mirror, int32_t H) {
  const double y = std::floor(double(p.y));
  double lo = y, hi = y + 1;
  if (!still) {
    const double ax = std::fabs(double(p.vx)), ay = std::fabs(double(p.vy));
    // A streak moves at most half its velocity (plus the end point) along y.
    lo = y - ay / 2 - 2;
    hi = y + ay / 2 + 3;
    if (mirror && ay > ax && (lo < 0 || hi > H - 1)) {
      lo = 0;
      hi = H;
    }
  }
  lo = std::max(lo - h, -1.0);
  hi = std::min(hi + h, double(H));
  return {int64_t(lo), int64_t(hi)};
}

}  // namespace

void depth_blur_interface::render_streak(const pixel_sample& p, bool mirror) {
  const int32_t k = SampleKernelIndex(p.depth);
  const int32_t h = splat::KernelHalfSide(k, KernelStep);
  const float* kern = KernelBank[size_t(k)].data();
  std::vector<float> scratch(splat::ScratchSize(h));
  const splat::Target t = SplatTarget();
  auto lock = [this](int32_t r, int32_t, int32_t) { return boost::mutex::scoped_lock(*row_locks[size_t(r)]); };
  streak::LayOut(p, mirror, t.width, t.row_hi + 1, h + 1, [&](const pixel_sample& q) {
    if (splat::Lands(q)) splat::Merged(t, q, kern, h, scratch.data(), lock);
  });
}

void Quorvex::ProcessChunk(Request*, int32_t chunk) {
  if (chunk < 0) return;
  const size_t n = SampleList.size();
  const size_t first = size_t(chunk) * 1000;
  const size_t end = std::min(first + 1000, n);
  if (first >= end) return;
  const bool mirror = FrameEdgeCondition > 1.5f && FrameEdgeCondition < 2.5f;
  const int32_t W = ColorAccum.width, H = ColorAccum.height;

  // Each sample's kernel (all points of a streak share their sample's
  // depth; neighbours often share it too) and the rows the chunk can write.
  int32_t kernel[1000];
  bool still[1000];
  int64_t lo = INT64_MAX, hi = INT64_MIN;
  int32_t hmax = 0;
  float last_depth = std::numeric_limits<float>::quiet_NaN();
  int32_t last_k = 0;
  for (size_t i = first; i < end; ++i) {
    const pixel_sample& s = SampleList[i];
    if (!(s.depth == last_depth)) {
      last_depth = s.depth;
      last_k = SampleKernelIndex(s.depth);
    }
    const int32_t k = kernel[i - first] = last_k;
    const int32_t h = splat::KernelHalfSide(k, KernelStep);
    still[i - first] = streak::IsStill(s);
    const auto reach = RowReach(s, still[i - first], h, mirror, H);
    lo = std::min(lo, reach.first);
    hi = std::max(hi, reach.second);
    hmax = std::max(hmax, h);
  }
  lo = std::max<int64_t>(lo, 0);
  hi = std::min<int64_t>(hi, H - 1);
  if (lo > hi) return;  // nothing of this chunk lands in the image

  if ((hi - lo + 1) * int64_t(W) > kBandBudget) {
    for (size_t i = first; i < end; ++i) {
      if (Abort.load(std::memory_order_relaxed)) return;
      render_streak(SampleList[i], mirror);
    }
    return;
  }

  std::unique_ptr<splat::LocalBand> band = Bands.Take(W, int32_t(lo), int32_t(hi), SplatTarget(), RowLock());
  splat::LocalBand& b = *band;
  splat::MovingGroup moving(b, b.Scratch(splat::ScratchSize(hmax)), mirror, W, H);
  static const bool wide_stills = splat::LocalBand::WideRunsOfStills();
  for (size_t i = first; i < end; ++i) {
    if (Abort.load(std::memory_order_relaxed)) break;
    const pixel_sample& s = SampleList[i];
    const int32_t k = kernel[i - first];
    const int32_t h = splat::KernelHalfSide(k, KernelStep);
    const float* kern = KernelBank[size_t(k)].data();
    if (still[i - first]) {
      // Samples sit on whole pixels, so a still one is its kernel at its
      // pixel. Neighbours on the same row with the same kernel go together.
      if (!splat::Lands(s)) continue;
      const int32_t x0 = splat::FloorToInt(s.x), y0 = splat::FloorToInt(s.y);
      // A run of neighbours sums each output pixel in registers before it
      // touches the band.
      float weights[splat::LocalBand::kMaxRun];
      __m128 colours[splat::LocalBand::kMaxRun];
      int32_t count = 0;
      weights[count] = s.weight;
      colours[count++] = _mm_load_ps(&s.color.r);
      while (count < splat::LocalBand::kMaxRun && i + 1 < end) {
        const pixel_sample& n = SampleList[i + 1];
        if (!still[i + 1 - first] || kernel[i + 1 - first] != k || n.y != s.y || n.x != s.x + float(count)) break;
        ++i;
        weights[count] = n.weight;
        colours[count++] = _mm_load_ps(&n.color.r);
      }
      if (wide_stills && count > 1 && h > 0)
        b.AddRunOfStillsWide(x0, y0, count, weights, colours, kern, h);
      else if (h <= 4)
        b.AddRunOfStills(x0, y0, count, weights, colours, kern, h);
      else
        b.AddAtPixel(x0, y0, s.weight, colours[0], kern, h);
      continue;
    }
    // Moving samples that follow one another go through together.
    for (size_t j = i;; ++j) {
      const int32_t kj = kernel[j - first];
      moving.Add(SampleList[j], KernelBank[size_t(kj)].data(), splat::KernelHalfSide(kj, KernelStep));
      if (moving.Full() || j + 1 >= end || still[j + 1 - first]) {
        i = j;
        break;
      }
    }
    moving.Splat();
  }
  Bands.Give(std::move(band));
}

std::function<boost::mutex::scoped_lock(int32_t)> depth_blur_interface::RowLock() {
  return [this](int32_t r) { return boost::mutex::scoped_lock(*row_locks[size_t(r)]); };
}

void depth_blur_interface::FinishBlurPass() {
  Bands.FlushAll(SplatTarget(), RowLock());
  Bands.Clear();
}
