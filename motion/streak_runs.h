#pragma once
// Streaks of neighbouring samples that move alike. A camera pan, or a
// motion pass of one value, gives every sample of a row the same velocity:
// at each offset along the streaks their points then lie side by side on one
// row, and go into the image as one run instead of point by point.
#include <cstddef>
#include <cstdint>

#include "motion/splat.h"
#include "motion/streak_layout.h"

namespace streak {

// Whether sample b, one pixel right of a on the same row, moves alike: the
// same velocity and weight, along x (so that the offsets of both streaks
// are whole columns apart).
inline bool MovesAlike(const pixel_sample& a, const pixel_sample& b) {
  return b.y == a.y && b.x == a.x + 1.0f && b.vx == a.vx && b.vy == a.vy && b.weight == a.weight &&
         !(std::fabs(a.vy) > std::fabs(a.vx));
}

// Lays out the streaks of `count` samples that move alike (plans in the
// order of their samples, each one column right of the one before). Where
// the points at one offset form an unbroken run along a row (always, unless
// the mirror reflects some of them), calls run(first, last, x, y, weight):
// samples first .. last have their points at (x + j - first, y). Other points
// go to point(j, x, y, weight) as LayOutInStep would send them.
template <class Run, class Point>
void LayOutAlike(const Plan* plans, size_t count, bool mirror, int32_t W, Run&& run, Point&& point) {
  if (count == 0) return;
  int64_t lo = plans[0].lo(), hi = plans[0].hi();
  for (size_t j = 1; j < count; ++j) {
    lo = std::min(lo, plans[j].lo());
    hi = std::max(hi, plans[j].hi());
  }
  const float m0 = plans[0].sample().x;
  float x, y, xb, yb;
  for (int64_t i = lo; i <= hi; ++i) {
    size_t first = count, last = 0, active = 0;
    for (size_t j = 0; j < count; ++j)
      if (plans[j].lo() <= i && i <= plans[j].hi()) {
        first = std::min(first, j);
        last = j;
        ++active;
      }
    if (active == 0) continue;
    plans[first].Position(i, x, y);
    plans[last].Position(i, xb, yb);
    // Unreflected points of samples at m0 + j lie at m0 + j + i.
    const double s0 = double(m0) + double(first) + double(i), s1 = double(m0) + double(last) + double(i);
    const bool unbroken = active == last - first + 1 && (!mirror || (s0 >= 0 && s1 <= W - 1)) &&
                          yb == y && xb - x == float(last - first) && splat::Lands(x, y) && splat::Lands(xb, yb);
    if (unbroken) {
      run(first, last, x, y, plans[first].weight());
      continue;
    }
    for (size_t j = first; j <= last; ++j) {
      const Plan& p = plans[j];
      if (i < p.lo() || i > p.hi()) continue;
      p.Position(i, x, y);
      point(j, x, y, p.weight());
    }
  }
  for (size_t j = 0; j < count; ++j)
    plans[j].Ends([&](const pixel_sample& q) { point(j, q.x, q.y, q.weight); });
}

}  // namespace streak
