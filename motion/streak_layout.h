#pragma once
// The layout of a sample's motion streak: a row of points one pixel apart
// along the major axis of its velocity, carrying together the sample's weight.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "process/pixel_sample.h"

namespace streak {

// A point outside [0, extent - 1] along the major axis, reflected about the
// outer edge of the border pixel: s' = -1 - s past 0, 2E - 1 - s past E - 1.
// The reflection keeps a uniform picture uniform up to the border.
inline int64_t MirrorOffset(int64_t i, int64_t m, int64_t extent) {
  const int64_t s = m + i;
  if (s < 0) return (-1 - s) - m;
  if (s > extent - 1) return (2 * extent - 1 - s) - m;
  return i;
}

// One pixel of motion or less draws no streak. A velocity that is not
// finite, or whose half-length does not fit 32 bits, counts as still too.
inline bool IsStill(const pixel_sample& P) {
  const float ax = std::fabs(P.vx), ay = std::fabs(P.vy);
  const bool finite = std::isfinite(P.vx) && std::isfinite(P.vy);
  return !finite || (ax <= 1.0f && ay <= 1.0f) || !(std::max(ax, ay) * 0.5f < 2147483520.0f);
}

// Lays out the streak of P and calls splat(point) for each point in order.
// `reach` is how far, in pixels, a point's footprint extends beyond it: points
// whose footprint cannot touch the image (directly or after the mirror) add
// nothing and are not visited, so a corrupt velocity costs no more than a
// streak across the whole image.
template <class Splat>
void LayOut(const pixel_sample& P, bool mirror, int32_t W, int32_t H, int32_t reach, Splat&& splat) {
  if (IsStill(P)) {
    splat(P);
    return;
  }
  const float ax = std::fabs(P.vx), ay = std::fabs(P.vy);
  const bool vertical = ay > ax;
  const float major = vertical ? P.vy : P.vx;
  const float minor = vertical ? P.vx : P.vy;
  const float L = std::fabs(major);
  const float slope = minor / major;
  const float w = P.weight / L;
  const int64_t n = int64_t(L / 2.0f - 0.5f);
  const float m = vertical ? P.y : P.x;
  const int64_t extent = vertical ? H : W;

  auto point = [&](int64_t i, float weight) {
    pixel_sample Q = P;
    Q.weight = weight;
    if (mirror) i = MirrorOffset(i, int64_t(m), extent);
    const float fi = float(i);
    if (vertical) {
      Q.y = P.y + fi;
      Q.x = P.x + slope * fi;
    } else {
      Q.x = P.x + fi;
      Q.y = P.y + slope * fi;
    }
    splat(Q);
  };

  // Offsets whose point can land: s = m + i within the image widened by the
  // footprint, or, with the mirror, within the span that reflects into it.
  const double lo_s = mirror ? -double(extent) - reach - 2 : -double(reach) - 2;
  const double hi_s = mirror ? 2.0 * extent + reach + 2 : double(extent) + reach + 1;
  double lo_i = lo_s - m, hi_i = hi_s - m;
  // Along the minor axis the point moves by slope * i; without the mirror
  // (which changes i) that bounds i too.
  if (!mirror && slope != 0.0f) {
    const double minor_m = vertical ? P.x : P.y;
    const double minor_extent = vertical ? W : H;
    double a = (-double(reach) - 2 - minor_m) / slope, b = (minor_extent + reach + 1 - minor_m) / slope;
    if (a > b) std::swap(a, b);
    lo_i = std::max(lo_i, a - 1);
    hi_i = std::min(hi_i, b + 1);
  }
  const int64_t lo = std::max<int64_t>(-n, int64_t(std::max(std::floor(lo_i), -double(n) - 1)));
  const int64_t hi = std::min<int64_t>(n, int64_t(std::min(std::ceil(hi_i), double(n) + 1)));
  for (int64_t i = lo; i <= hi; ++i) point(i, w);

  const float rest = P.weight - float(2 * n + 1) * w;
  if (rest > 0.0f) {
    point(-(n + 1), rest / 2.0f);
    point(n + 1, rest / 2.0f);
  }
}

}  // namespace streak
