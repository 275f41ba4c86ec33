#include "process/resolve_pass.h"

void ResolveRow(const ResolveSettings& s, const tessaly_image::color_rgba_f* colors, const float* norms,
                int32_t width, float* r, float* g, float* b, float* a) {
  const float patch = s.alpha_patch + 1.0f;
  for (int32_t x = 0; x < width; ++x) {
    tessaly_image::color_rgba_f c = colors[x];
    const float n = norms[x];
    if (s.normalize && n > 0.0f) {
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
