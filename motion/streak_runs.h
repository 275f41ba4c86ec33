#pragma once
// Streaks of neighbouring samples that move alike. A camera pan, or a
// motion pass of one value, gives every sample of a row the same velocity:
// at each offset along the streaks their points then lie side by side on one
// row, and go into the image as one run instead of point by point.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

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
// the points of several samples form an unbroken run along a row, calls
// run(first, last, x, y, weight): samples first .. last have their points at
// (x + j - first, y), every one with the fraction of x. For streaks along x
// these are the points at one offset, or, past a mirrored border, the points
// that reflect to one offset. Runs break (for streaks along y) where float
// rounding gives neighbours different fractions. Other points go to
// point(j, x, y, weight) as LayOutInStep would send them.
template <class Run, class Point>
void LayOutAlike(const Plan* plans, size_t count, bool mirror, int32_t W, Run&& run, Point&& point) {
  if (count == 0) return;
  const pixel_sample& s = plans[0].sample();
  const bool along_y = std::fabs(s.vy) > std::fabs(s.vx);
  const float weight = plans[0].weight();
  auto m = [&](size_t j) { return int64_t(plans[j].sample().x); };

  // Sweeps target offsets t over `spans`; sample j takes part with its
  // point at offset source(j, t) when it visits that offset and keep(j, i)
  // holds.
  auto sweep = [&](std::vector<std::pair<int64_t, int64_t>> spans, auto&& source, auto&& keep) {
    std::sort(spans.begin(), spans.end());
    size_t merged = 0;
    for (size_t k = 1; k < spans.size(); ++k)
      if (spans[k].first <= spans[merged].second + 1)
        spans[merged].second = std::max(spans[merged].second, spans[k].second);
      else
        spans[++merged] = spans[k];
    if (!spans.empty()) spans.resize(merged + 1);
    float x, y, xb, yb;
    for (const auto& span : spans)
      for (int64_t t = span.first; t <= span.second; ++t) {
        size_t first = count, last = 0, active = 0;
        for (size_t j = 0; j < count; ++j) {
          const int64_t i = source(j, t);
          if (plans[j].Visits(i) && keep(j, i)) {
            first = std::min(first, j);
            last = j;
            ++active;
          }
        }
        if (active == 0) continue;
        bool unbroken = active == last - first + 1;
        if (unbroken) {
          plans[first].Position(source(first, t), x, y);
          unbroken = splat::Lands(x, y);
        }
        if (unbroken && !along_y) {
          // Whole columns apart on one row.
          plans[last].Position(source(last, t), xb, yb);
          unbroken = splat::Lands(xb, yb) && yb == y && xb - x == float(last - first);
        } else if (unbroken) {
          // Each point's column and fraction, as its own streak computes them.
          const int32_t c = splat::FloorToInt(x);
          const float f = x - float(c);
          for (size_t j = first + 1; unbroken && j <= last; ++j) {
            plans[j].Position(source(j, t), xb, yb);
            unbroken = yb == y && splat::Lands(xb, yb) && splat::FloorToInt(xb) == c + int32_t(j - first) &&
                       xb - float(c + int32_t(j - first)) == f;
          }
        }
        if (unbroken) {
          run(first, last, x, y, weight);
          continue;
        }
        for (size_t j = first; j <= last; ++j) {
          const int64_t i = source(j, t);
          if (!plans[j].Visits(i) || !keep(j, i)) continue;
          plans[j].Position(i, x, y);
          point(j, x, y, weight);
        }
      }
  };

  // Offsets mapped by f(j, i), for every range of every sample clipped to
  // the offsets lo(j) .. hi(j).
  constexpr int64_t kAll = int64_t(1) << 62;
  auto mapped = [&](auto&& f, auto&& lo, auto&& hi) {
    std::vector<std::pair<int64_t, int64_t>> spans;
    for (size_t j = 0; j < count; ++j)
      for (int k = 0; k < plans[j].Ranges(); ++k) {
        const int64_t l = std::max(plans[j].lo(k), lo(j)), h = std::min(plans[j].hi(k), hi(j));
        if (l > h) continue;
        const int64_t a = f(j, l), b = f(j, h);
        spans.push_back({std::min(a, b), std::max(a, b)});
      }
    return spans;
  };
  auto same = [](size_t, int64_t i) { return i; };
  auto none = [](size_t) { return -kAll; };
  auto all = [](size_t) { return kAll; };
  if (!mirror || along_y) {
    // The mirror of a streak along y reflects every sample's offset alike.
    sweep(mapped(same, none, all), same, [](size_t, int64_t) { return true; });
  } else {
    // Along x the mirror reflects offset i of the sample at m to
    // -1 - 2m - i past column 0 and to 2W - 1 - 2m - i past column W - 1
    // (the reflection is its own inverse), where neighbours line up again.
    const int64_t E = W;
    auto left = [&](size_t j, int64_t i) { return -1 - 2 * m(j) - i; };
    auto right = [&](size_t j, int64_t i) { return 2 * E - 1 - 2 * m(j) - i; };
    auto first_inside = [&](size_t j) { return -m(j); };
    auto last_inside = [&](size_t j) { return E - 1 - m(j); };
    auto before = [&](size_t j) { return -m(j) - 1; };
    auto after = [&](size_t j) { return E - m(j); };
    sweep(mapped(same, first_inside, last_inside), same,
          [&](size_t j, int64_t i) { return m(j) + i >= 0 && m(j) + i <= E - 1; });
    sweep(mapped(left, none, before), left, [&](size_t j, int64_t i) { return m(j) + i < 0; });
    sweep(mapped(right, after, all), right, [&](size_t j, int64_t i) { return m(j) + i > E - 1; });
  }
  // Samples that move alike share their end points' offsets and weights.
  if (plans[0].HasEnds()) {
    const float end_weight = plans[0].EndWeight();
    for (int64_t e : {-plans[0].EndOffset(), plans[0].EndOffset()}) {
      float x, y, xb, yb;
      plans[0].Position(e, x, y);
      plans[count - 1].Position(e, xb, yb);
      bool unbroken = !mirror && !along_y && splat::Lands(x, y) && splat::Lands(xb, yb) && yb == y &&
                      xb - x == float(count - 1);
      if (unbroken) {
        run(0, count - 1, x, y, end_weight);
        continue;
      }
      for (size_t j = 0; j < count; ++j) {
        plans[j].Position(e, x, y);
        point(j, x, y, end_weight);
      }
    }
  }
}

}  // namespace streak
