#include "dof/depth_to_blur.h"

#include <cmath>
#include <limits>

#include "dof/truncate.h"

namespace dof {


float DepthToDistance(const DepthSettings& s, float v) {
  float x;
  if (s.map_type == DepthMapType::Normalized) {
    if (s.invert) v = std::fabs(1.0f - v);
    x = std::fabs(s.far_distance - s.near_distance) * v + s.near_distance;
  } else {
    x = v;
  }
  // x * 12 is exact in double, so the float product below rounds exactly as
  // the double-then-float product does.
  switch (s.units) {
    case DepthUnits::Foot: x = float(double(x) * 12.0) * 25.4f; break;
    case DepthUnits::Inch: x = x * 25.4f; break;
    case DepthUnits::Metre: x = x * 1000.0f; break;
    case DepthUnits::Millimetre: break;
  }
  return std::fabs(x);
}

float SampleDistance(const DepthSettings& s, float depth_value) {
  if (!s.enabled) return 1.0f;
  const float d = DepthToDistance(s, std::fabs(depth_value));
  return s.depth_cap > d ? d : s.depth_cap;
}

int32_t KernelIndex(const DepthSettings& s, int32_t bank_size, float d) {
  if (!s.enabled) return 0;
  float blur = std::fabs(d - s.focus_distance) * s.blur_scale / d;
  if (!(s.blur_scale > blur)) blur = s.blur_scale;
  int32_t k = TruncToInt32(blur / s.kernel_step);
  if (k <= 0) k = 0;
  if (k > bank_size - 1) k = bank_size - 1;
  return k;
}

int32_t KernelBankSize(const DepthSettings& s, int32_t width) {
  if (!s.enabled) return 1;
  const float limit_w = float(double(width) / (double(s.kernel_step) * 4.0));
  const float limit_s = s.blur_scale / s.kernel_step;
  const float limit = limit_s > limit_w ? limit_w : limit_s;
  if (!(limit >= 1.0f)) return 1;
  const double count = 1.0 + std::floor(double(limit));
  return count < double(std::numeric_limits<int32_t>::max()) ? int32_t(count) : std::numeric_limits<int32_t>::max();
}

}  // namespace dof
