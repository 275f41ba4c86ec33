// The blur pass's work: each chunk lays out the streaks of its samples and
// splats every point.
#include <algorithm>

#include "motion/splat.h"
#include "motion/streak_layout.h"
#include "plugin/Quorvex.h"

void depth_blur_interface::render_streak(const pixel_sample& p, bool mirror) {
  const int32_t reach = splat::KernelHalfSide(SampleKernelIndex(p.depth), KernelStep) + 1;
  streak::LayOut(p, mirror, ColorAccum.width, ColorAccum.height, reach,
                 [this](const pixel_sample& q) { splat_sample(q); });
}

void Quorvex::ProcessChunk(Request*, int32_t chunk) {
  if (chunk < 0) return;
  const size_t n = SampleList.size();
  const size_t first = size_t(chunk) * 1000;
  const size_t end = std::min(first + 1000, n);
  if (first >= end) return;
  const bool mirror = FrameEdgeCondition > 1.5f && FrameEdgeCondition < 2.5f;
  for (size_t i = first; i < end; ++i) {
    if (Abort.load(std::memory_order_relaxed)) return;
    render_streak(SampleList[i], mirror);
  }
}
