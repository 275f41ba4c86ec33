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
// same velocity and weight.
inline bool MovesAlike(const pixel_sample& a, const pixel_sample& b) {
  return b.y == a.y && b.x == a.x + 1.0f && b.vx == a.vx && b.vy == a.vy && b.weight == a.weight;
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
constexpr size_t kMaxAlike = 256;  // samples LayOutAlike takes at once
constexpr int64_t kBeyondAnyOffset = int64_t(1) << 62;

template <class Run, class Point>
void LayOutAlike(const Plan* plans, size_t count, bool mirror, int32_t W, Run&& run, Point&& point) {
  if (count == 0) return;
  if (count > kMaxAlike) {  // more than the bit set holds: point by point
    float x, y;
    for (size_t j = 0; j < count; ++j) {
      for (int k = 0; k < plans[j].Ranges(); ++k)
        for (int64_t i = plans[j].lo(k); i <= plans[j].hi(k); ++i) {
          plans[j].Position(i, x, y);
          point(j, x, y, plans[j].weight());
        }
      plans[j].Ends([&](const pixel_sample& q) { point(j, q.x, q.y, q.weight); });
    }
    return;
  }
  const pixel_sample& s = plans[0].sample();
  const bool along_y = std::fabs(s.vy) > std::fabs(s.vx);
  const float weight = plans[0].weight();
  auto m = [&](size_t j) { return int64_t(plans[j].sample().x); };

  // Sweeps target offsets t over the intervals; sample j takes part with
  // its point at offset source(j, t) while t lies in one of its intervals.
  // Between the intervals' ends the set of samples taking part stays the
  // same, so it is kept as a bit set updated at the ends.
  struct Interval {
    int64_t a, b;
    size_t j;
  };
  // Offsets t_begin .. t_end - 1, over which the samples in `bits` (active
  // of them) take part.
  auto offsets = [&](int64_t t_begin, int64_t t_end, const uint64_t* bits, size_t active, auto&& source) {
    float x, y, xb, yb;
    size_t first = 0, last = 0;
    for (size_t w = 0; w < kMaxAlike / 64; ++w)
      if (bits[w]) {
        first = w * 64 + size_t(__builtin_ctzll(bits[w]));
        break;
      }
    for (size_t w = kMaxAlike / 64; w-- > 0;)
      if (bits[w]) {
        last = w * 64 + 63 - size_t(__builtin_clzll(bits[w]));
        break;
      }
    const bool contiguous = active == last - first + 1;
    for (int64_t t = t_begin; t < t_end; ++t) {
      bool unbroken = contiguous;
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
        if (!(bits[j / 64] >> (j % 64) & 1)) continue;
        plans[j].Position(source(j, t), x, y);
        point(j, x, y, weight);
      }
    }
  };
  auto sweep = [&](const std::vector<Interval>& intervals, auto&& source) {
    // Alike neighbours mostly share one interval: then all take part over it.
    auto shared = [&](const Interval& v) {
      return v.a == intervals[0].a && v.b == intervals[0].b && v.j == size_t(&v - intervals.data());
    };
    const bool one_interval = intervals.size() == count && std::all_of(intervals.begin(), intervals.end(), shared);
    if (one_interval) {
      uint64_t bits[kMaxAlike / 64] = {};
      for (size_t j = 0; j < count; ++j) bits[j / 64] |= uint64_t(1) << (j % 64);
      return offsets(intervals[0].a, intervals[0].b + 1, bits, count, source);
    }
    struct Event {
      int64_t t;
      bool on;
      size_t j;
      bool operator<(const Event& o) const { return t != o.t ? t < o.t : on < o.on; }  // offs first
    };
    std::vector<Event> events;
    events.reserve(2 * intervals.size());
    for (const Interval& v : intervals) {
      events.push_back({v.a, true, v.j});
      events.push_back({v.b + 1, false, v.j});
    }
    std::sort(events.begin(), events.end());
    uint64_t bits[kMaxAlike / 64] = {};
    size_t active = 0;
    for (size_t e = 0; e < events.size();) {
      const int64_t t0 = events[e].t;
      for (; e < events.size() && events[e].t == t0; ++e) {
        const size_t j = events[e].j;
        if (events[e].on) {
          bits[j / 64] |= uint64_t(1) << (j % 64);
          ++active;
        } else {
          bits[j / 64] &= ~(uint64_t(1) << (j % 64));
          --active;
        }
      }
      if (active == 0 || e == events.size()) continue;
      offsets(t0, events[e].t, bits, active, source);
    }
  };

  // Each sample's ranges clipped to the offsets lo(j) .. hi(j) and mapped
  // by f(j, i) to the offsets where its points line up with the others'.
  auto mapped = [&](auto&& f, auto&& lo, auto&& hi) {
    std::vector<Interval> intervals;
    for (size_t j = 0; j < count; ++j)
      for (int k = 0; k < plans[j].Ranges(); ++k) {
        const int64_t l = std::max(plans[j].lo(k), lo(j)), h = std::min(plans[j].hi(k), hi(j));
        if (l > h) continue;
        const int64_t a = f(j, l), b = f(j, h);
        intervals.push_back({std::min(a, b), std::max(a, b), j});
      }
    return intervals;
  };
  auto same = [](size_t, int64_t i) { return i; };
  auto none = [](size_t) { return -kBeyondAnyOffset; };
  auto all = [](size_t) { return kBeyondAnyOffset; };
  if (!mirror || along_y) {
    // The mirror of a streak along y reflects every sample's offset alike.
    sweep(mapped(same, none, all), same);
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
    sweep(mapped(same, first_inside, last_inside), same);
    sweep(mapped(left, none, before), left);
    sweep(mapped(right, after, all), right);
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
