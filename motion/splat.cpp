// The splat: one point of a streak added, through its depth-of-field kernel
// and bilinear weights, into the colour and weight accumulation images.
#include "motion/splat.h"

#include <cmath>

#include "plugin/depth_blur_interface.h"

void depth_blur_interface::splat_sample(const pixel_sample& q) {
  // A point whose coordinates are not finite, or lie so far out that their
  // floor would not fit 32 bits, lands nowhere.
  if (!(std::fabs(q.x) < 1.0e9f) || !(std::fabs(q.y) < 1.0e9f)) return;
  const int32_t k = SampleKernelIndex(q.depth);
  const int32_t h = splat::KernelHalfSide(k, KernelStep);
  const int32_t d = 2 * h + 1;
  const float* kern = KernelBank[size_t(k)].data();
  const __m128 col = _mm_load_ps(&q.color.r);
  const int32_t W = ColorAccum.width, H = ColorAccum.height;
  const int32_t x0 = int32_t(std::floor(q.x)), y0 = int32_t(std::floor(q.y));
  const float fx = q.x - float(x0), fy = q.y - float(y0);

  for (int32_t dy = 0; dy < 2; ++dy) {
    const float wy = dy == 0 ? 1.0f - fy : fy;
    const int32_t cy = y0 + dy;
    const int32_t r0 = std::max(cy - h, 0), r1 = std::min(cy + h, H - 1);
    if (!(wy > 0.0f) || r0 > r1) continue;
    for (int32_t dx = 0; dx < 2; ++dx) {
      const float wx = dx == 0 ? 1.0f - fx : fx;
      const int32_t cx = x0 + dx;
      const int32_t c0 = std::max(cx - h, 0), c1 = std::min(cx + h, W - 1);
      if (!(wx > 0.0f) || c0 > c1) continue;
      const float t = (wx * q.weight) * wy;
      for (int32_t r = r0; r <= r1; ++r) {
        const float* krow = kern + size_t(r - (cy - h)) * size_t(d) + size_t(c0 - (cx - h));
        auto* crow = reinterpret_cast<tessaly_image::color_rgba_f*>(reinterpret_cast<char*>(ColorRow0) +
                                                                     ptrdiff_t(r) * ColorAccum.row_stride);
        auto* nrow = reinterpret_cast<float*>(reinterpret_cast<char*>(NormRow0) + ptrdiff_t(r) * WeightAccum.row_stride);
        boost::mutex::scoped_lock lock(*row_locks[size_t(r)]);
        splat::AddRun(crow + c0, nrow + c0, krow, c1 - c0 + 1, t, col);
      }
    }
  }
}
