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
// same velocity and weight. Streaks along y only with `any_axis` (their
// points then sit between columns).
inline bool MovesAlike(const pixel_sample& a, const pixel_sample& b, bool any_axis) {
  return b.y == a.y && b.x == a.x + 1.0f && b.vx == a.vx && b.vy == a.vy && b.weight == a.weight &&
         (any_axis || !(std::fabs(a.vy) > std::fabs(a.vx)));
}

// Lays out the streaks of `count` samples that move alike (plans in the
// order of their samples, each one column right of the one before). Where
// the points at one offset form an unbroken run along a row, calls
// run(first, last, x, y, weight): samples first .. last have their points at
// (x + j - first, y), every one with the fraction of x. Runs break where the
// mirror reflects some points and not others, and (for streaks along y)
// where float rounding gives neighbours different fractions. Other points go
// to point(j, x, y, weight) as LayOutInStep would send them.
template <class Run, class Point>
void LayOutAlike(const Plan* plans, size_t count, bool mirror, int32_t W, Run&& run, Point&& point) {
  if (count == 0) return;
  int64_t lo = plans[0].lo(), hi = plans[0].hi();
  for (size_t j = 1; j < count; ++j) {
    lo = std::min(lo, plans[j].lo());
    hi = std::max(hi, plans[j].hi());
  }
  const pixel_sample& s = plans[0].sample();
  const bool along_y = std::fabs(s.vy) > std::fabs(s.vx);
  const float m0 = s.x;
  float x, y, xb, yb;
  // The points of samples first .. last at offset i, as one run if they form one.
  auto offset = [&](int64_t i, size_t first, size_t last, float weight) {
    plans[first].Position(i, x, y);
    bool unbroken = splat::Lands(x, y);
    if (unbroken && !along_y) {
      // Unreflected points of samples at m0 + j lie at m0 + j + i, whole
      // columns apart, on one row.
      plans[last].Position(i, xb, yb);
      const double s0 = double(m0) + double(first) + double(i), s1 = double(m0) + double(last) + double(i);
      unbroken = (!mirror || (s0 >= 0 && s1 <= W - 1)) && yb == y && xb - x == float(last - first);
    } else if (unbroken) {
      // Each point's column and fraction, as its own streak computes them.
      const int32_t c = splat::FloorToInt(x);
      const float f = x - float(c);
      for (size_t j = first + 1; unbroken && j <= last; ++j) {
        plans[j].Position(i, xb, yb);
        unbroken = yb == y && splat::Lands(xb, yb) && splat::FloorToInt(xb) == c + int32_t(j - first) &&
                   xb - float(c + int32_t(j - first)) == f;
      }
    }
    if (unbroken) return run(first, last, x, y, weight);
    for (size_t j = first; j <= last; ++j) {
      plans[j].Position(i, x, y);
      point(j, x, y, weight);
    }
  };
  for (int64_t i = lo; i <= hi; ++i) {
    size_t first = count, last = 0, active = 0;
    for (size_t j = 0; j < count; ++j)
      if (plans[j].lo() <= i && i <= plans[j].hi()) {
        first = std::min(first, j);
        last = j;
        ++active;
      }
    if (active == 0) continue;
    if (active == last - first + 1) {
      offset(i, first, last, plans[first].weight());
      continue;
    }
    for (size_t j = first; j <= last; ++j)
      if (plans[j].lo() <= i && i <= plans[j].hi()) {
        plans[j].Position(i, x, y);
        point(j, x, y, plans[j].weight());
      }
  }
  // Samples that move alike share their end points' offsets and weights.
  if (plans[0].HasEnds())
    for (int64_t i : {-plans[0].EndOffset(), plans[0].EndOffset()}) offset(i, 0, count - 1, plans[0].EndWeight());
}

}  // namespace streak
