// The splat: one point of a streak added, through its depth-of-field kernel
// and bilinear weights, into the colour and weight accumulation images.
#include "motion/splat.h"

#include <cmath>

#include "plugin/depth_blur_interface.h"

splat::Target depth_blur_interface::SplatTarget() const {
  return {ColorRow0, NormRow0, ColorAccum.row_stride, WeightAccum.row_stride, ColorAccum.width, 0,
          ColorAccum.height - 1};
}

void depth_blur_interface::splat_sample(const pixel_sample& q) {
  if (!splat::Lands(q)) return;
  const int32_t k = SampleKernelIndex(q.depth);
  splat::FourCopies(SplatTarget(), q, KernelBank[size_t(k)].data(), splat::KernelHalfSide(k, KernelStep),
                    [this](int32_t r, int32_t, int32_t) { return boost::mutex::scoped_lock(*row_locks[size_t(r)]); });
}
