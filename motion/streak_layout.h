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

// The points of one moving sample's streak: offsets i along the major axis
// (up to three ranges of them) with weight w each, and the two end points
// (offsets -(n + 1) and n + 1) sharing what is left of the sample's weight.
class Plan {
 public:
  Plan() = default;
  // `reach` is how far, in pixels, a point's footprint extends beyond it:
  // offsets whose footprint cannot touch the image (directly or after the
  // mirror) add nothing and are left out, so a corrupt velocity costs no more
  // than a streak across the whole image.
  Plan(const pixel_sample& P, bool mirror, int32_t W, int32_t H, int32_t reach) : P_(&P), mirror_(mirror) {
    const float ax = std::fabs(P.vx), ay = std::fabs(P.vy);
    vertical_ = ay > ax;
    const float major = vertical_ ? P.vy : P.vx;
    const float minor = vertical_ ? P.vx : P.vy;
    const float L = std::fabs(major);
    slope_ = minor / major;
    w_ = P.weight / L;
    n_ = int64_t(L / 2.0f - 0.5f);
    m_ = vertical_ ? P.y : P.x;
    extent_ = vertical_ ? H : W;
    rest_ = P.weight - float(2 * n_ + 1) * w_;

    // Offsets whose point can land: s = m + i within the image widened by the
    // footprint, or, with the mirror, within the span that reflects into it.
    const double lo_s = mirror ? -double(extent_) - reach - 2 : -double(reach) - 2;
    const double hi_s = mirror ? 2.0 * extent_ + reach + 2 : double(extent_) + reach + 1;
    const double span_lo = std::max(lo_s - m_, -double(n_)), span_hi = std::min(hi_s - m_, double(n_));
    if (slope_ == 0.0f) {
      Keep(span_lo, span_hi);
      return;
    }
    // Along the minor axis a point at (reflected) offset i' moves by
    // slope * i', which must keep it within the image widened by the footprint.
    const double minor_m = vertical_ ? P.x : P.y;
    const double minor_extent = vertical_ ? W : H;
    double a = (-double(reach) - 2 - minor_m) / slope_, b = (minor_extent + reach + 1 - minor_m) / slope_;
    if (a > b) std::swap(a, b);
    a -= 1;
    b += 1;
    if (!mirror) {
      Keep(std::max(span_lo, a), std::min(span_hi, b));
      return;
    }
    // The mirror reflects the offsets past either border (see MirrorOffset);
    // the reflected offset is the one the minor axis sees.
    const double M = double(int64_t(m_)), E = double(extent_);
    Keep(std::max({span_lo, -1 - 2 * M - b}), std::min({span_hi, -1 - 2 * M - a, -M - 1}));
    Keep(std::max({span_lo, a, -M}), std::min({span_hi, b, E - 1 - M}));
    Keep(std::max({span_lo, 2 * E - 1 - 2 * M - b, E - M}), std::min({span_hi, 2 * E - 1 - 2 * M - a}));
  }

  // The offsets visited, in increasing order: Ranges() ranges of them.
  int Ranges() const { return ranges_; }
  int64_t lo(int k = 0) const { return lo_[k]; }
  int64_t hi(int k = 0) const { return hi_[k]; }
  bool Visits(int64_t i) const {
    for (int k = 0; k < ranges_; ++k)
      if (lo_[k] <= i && i <= hi_[k]) return true;
    return false;
  }
  int64_t Count() const { return count_; }
  // The t-th visited offset (t < Count()).
  int64_t Offset(int64_t t) const {
    int k = 0;
    while (k + 1 < ranges_ && t > hi_[k] - lo_[k]) t -= hi_[k] - lo_[k] + 1, ++k;
    return lo_[k] + t;
  }
  float weight() const { return w_; }
  // Every point on the sample's row (a velocity along x alone).
  bool AlongRow() const { return !vertical_ && slope_ == 0.0f; }

  const pixel_sample& sample() const { return *P_; }

  // Where the point at offset i lies.
  void Position(int64_t i, float& x, float& y) const {
    if (mirror_) i = MirrorOffset(i, int64_t(m_), extent_);
    const float fi = float(i);
    if (vertical_) {
      y = P_->y + fi;
      x = P_->x + slope_ * fi;
    } else {
      x = P_->x + fi;
      y = P_->y + slope_ * fi;
    }
  }

  // The point at offset i with the given weight.
  pixel_sample At(int64_t i, float weight) const {
    pixel_sample Q = *P_;
    Q.weight = weight;
    Position(i, Q.x, Q.y);
    return Q;
  }

  // The end points, at offsets -(n + 1) and n + 1, when the evenly spaced
  // points leave weight over; each carries half of it.
  bool HasEnds() const { return rest_ > 0.0f; }
  int64_t EndOffset() const { return n_ + 1; }
  float EndWeight() const { return rest_ / 2.0f; }
  template <class Splat>
  void Ends(Splat&& splat) const {
    if (!HasEnds()) return;
    splat(At(-EndOffset(), EndWeight()));
    splat(At(EndOffset(), EndWeight()));
  }

 private:
  // Adds the whole offsets in lo .. hi (one spare each way) within -n .. n as
  // a range, joined to the previous one where they touch.
  void Keep(double lo, double hi) {
    lo = std::ceil(lo - 1);  // one spare offset each way against rounding
    hi = std::floor(hi + 1);
    lo = std::max(lo, -double(n_));
    hi = std::min(hi, double(n_));
    if (!(lo <= hi) || ranges_ == 3) return;
    lo_[ranges_] = int64_t(lo);
    hi_[ranges_] = int64_t(hi);
    if (ranges_ > 0 && lo_[ranges_] <= hi_[ranges_ - 1])
      hi_[ranges_ - 1] = std::max(hi_[ranges_ - 1], hi_[ranges_]);
    else
      ++ranges_;
    count_ = 0;
    for (int k = 0; k < ranges_; ++k) count_ += hi_[k] - lo_[k] + 1;
  }

  const pixel_sample* P_ = nullptr;
  bool mirror_ = false, vertical_ = false;
  float slope_ = 0, w_ = 0, m_ = 0, rest_ = 0;
  int64_t n_ = 0, extent_ = 0;
  int64_t lo_[3] = {}, hi_[3] = {};
  int64_t count_ = 0;  // offsets visited
  int ranges_ = 0;
};

// Lays out the streak of P and calls splat(point) for each point in order.
template <class Splat>
void LayOut(const pixel_sample& P, bool mirror, int32_t W, int32_t H, int32_t reach, Splat&& splat) {
  if (IsStill(P)) {
    splat(P);
    return;
  }
  const Plan plan(P, mirror, W, H, reach);
  for (int k = 0; k < plan.Ranges(); ++k)
    for (int64_t i = plan.lo(k); i <= plan.hi(k); ++i) splat(plan.At(i, plan.weight()));
  plan.Ends(splat);
}

// The points of several moving samples' streaks, walked in step: the first
// point of each, then the second of each, and so on. Neighbouring samples
// usually move alike, so their streaks run side by side and each step writes
// one small patch of memory instead of one row per sample; a long streak no
// longer evicts the rows its neighbour is about to add to.
template <class Splat>
void LayOutInStep(const Plan* plans, size_t count, Splat&& splat) {
  int64_t steps = 0;
  for (size_t j = 0; j < count; ++j) steps = std::max(steps, plans[j].Count());
  float x, y;
  for (int64_t t = 0; t < steps; ++t)
    for (size_t j = 0; j < count; ++j) {
      const Plan& p = plans[j];
      if (t >= p.Count()) continue;
      p.Position(p.Offset(t), x, y);
      splat(j, x, y, p.weight());
    }
  for (size_t j = 0; j < count; ++j)
    plans[j].Ends([&](const pixel_sample& q) { splat(j, q.x, q.y, q.weight); });
}

}  // namespace streak
