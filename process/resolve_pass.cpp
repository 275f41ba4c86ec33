#include "process/resolve_pass.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

float LeastDividedWeight(const float* norms, int32_t width, int32_t rows, int32_t stride) {
  float largest = 0.0f;
  for (int32_t y = 0; y < rows; ++y) {
    const float* n = reinterpret_cast<const float*>(reinterpret_cast<const char*>(norms) + ptrdiff_t(y) * stride);
    for (int32_t x = 0; x < width; ++x)
      if (std::isfinite(n[x])) largest = std::max(largest, std::fabs(n[x]));
  }
  return kNegligibleWeight * largest;
}

void ResolveRow(const ResolveSettings& s, const tessaly_image::color_rgba_f* colors, const float* norms,
                int32_t width, float* r, float* g, float* b, float* a) {
  const float patch = s.alpha_patch + 1.0f;
  for (int32_t x = 0; x < width; ++x) {
    tessaly_image::color_rgba_f c = colors[x];
    const float n = norms[x];
    if (s.normalize && n > 0.0f && n >= s.least_weight) {
      c.r /= n;
      c.g /= n;
      c.b /= n;
      c.a /= n;
    }
    c.r *= patch;
    c.g *= patch;
    c.b *= patch;
    c.a *= patch;
    if (c.a > 1.0f) {
      const float al = c.a;
      c.r /= al;
      c.g /= al;
      c.b /= al;
      c.a /= al;
    }
    r[x] = c.r;
    g[x] = c.g;
    b[x] = c.b;
    a[x] = c.a;
  }
}
