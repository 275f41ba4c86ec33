#include "motion/moving_group.h"

#include <algorithm>
#include <cmath>

#include "motion/streak_runs.h"

namespace splat {

namespace {
// Fewest neighbours moving alike that go through as runs.
constexpr size_t kMinAlike = 4;
// Most points of a streak whose weights gather before they are added.
constexpr int32_t kMaxWeightedPoints = 64;
// Fewest points of a streak along a row that go in as one box: a box costs
// about what two points do.
constexpr int64_t kMinBoxPoints = 4;
// Columns below this are whole floats with whole neighbours: a streak from
// a whole column then steps exactly one column a point.
constexpr float kExactColumns = 8388608.0f;
static_assert(MovingGroup::kMaxSamples <= streak::kMaxAlike, "alike stretches go through LayOutAlike whole");
static_assert(MovingGroup::kMaxSamples <= LocalBand::kMaxSpanRun, "an alike stretch makes one box");
}  // namespace

MovingGroup::MovingGroup(LocalBand& band)
    : band_(band),
      plans_(kMaxSamples),
      ordered_(kMaxSamples),
      kerns_(kMaxSamples),
      bordered_(kMaxSamples),
      halves_(kMaxSamples),
      spans_(kMaxSamples),
      boxes_(kMaxSamples),
      order_(kMaxSamples),
      rest_(kMaxSamples) {}

void MovingGroup::Begin(float* scratch, bool mirror, int32_t width, int32_t height) {
  gathered_ = 0;
  scratch_ = scratch;
  mirror_ = mirror;
  width_ = width;
  height_ = height;
  count_ = 0;
}

void MovingGroup::Add(const pixel_sample& s, const PassKernel& k) {
  plans_[count_] = streak::Plan(s, mirror_, width_, height_, k.h + 1);
  kerns_[count_] = k.taps;
  bordered_[count_] = k.bordered;
  halves_[count_] = k.h;
  spans_[count_] = k.spans;
  const streak::Plan& plan = plans_[count_];
  boxes_[count_] = k.spans && k.h > 0 && plan.AlongRow() && plan.Count() >= kMinBoxPoints && Lands(s) &&
                   std::fabs(s.x) + float(plan.EndOffset()) < kExactColumns && s.x == std::floor(s.x);
  colours_[count_] = s.color;
  ++count_;
}

void MovingGroup::Point(size_t j, float x, float y, float weight) {
  if (!Lands(x, y)) return;
  if (halves_[j] == 0) return OnePixel(band_, x, y, weight, colours_[j], kerns_[j][0]);
  if (spans_[j]) {
    const int32_t c = FloorToInt(x);
    return band_.AddSpanPoints(c, x - float(c), y, 1, weight, &colours_[j], halves_[j], *spans_[j]);
  }
  pixel_sample q = plans_[j].sample();
  q.x = x;
  q.y = y;
  q.weight = weight;
  MergedFootprint(band_, q, kerns_[j], halves_[j], scratch_);
}

bool MovingGroup::MoveAlike(size_t p, size_t q) const {
  return kerns_[q] == kerns_[p] && streak::MovesAlike(plans_[p].sample(), plans_[q].sample());
}

void MovingGroup::Alike(size_t a, size_t e, bool leftwards) {
  if (boxes_[a] && !mirror_) return AlikeAsBoxes(a, e, leftwards);
  // In order of their columns: "Duplicate" copies beyond the left edge come
  // right to left.
  const size_t n = e - a;
  for (size_t k = 0; k < n; ++k) {
    order_[k] = leftwards ? e - 1 - k : a + k;
    ordered_[k] = plans_[order_[k]];
    ordered_colours_[k] = colours_[order_[k]];
  }
  const int32_t h = halves_[a];
  const float* kern = kerns_[a];
  const dof::KernelSpans* spans = spans_[a];
  const Colour* cols = ordered_colours_;
  streak::LayOutAlike(
      ordered_.data(), n, mirror_, width_,
      [&](size_t f, size_t l, float x, float y, float weight) {
        const int32_t c = FloorToInt(x);
        const float fx = x - float(c);
        if (h == 0) return RowOfPoints(band_, c, fx, y, int32_t(l - f + 1), cols + f, weight, kern[0]);
        const size_t longest = spans ? LocalBand::kMaxSpanRun : LocalBand::kMaxRun;
        for (size_t j = f; j <= l; j += longest) {
          const int32_t m = int32_t(std::min(l - j + 1, longest));
          if (spans)
            band_.AddSpanPoints(c + int32_t(j - f), fx, y, m, weight, cols + j, h, *spans);
          else
            band_.AddRunOfPoints(c + int32_t(j - f), fx, y, m, weight, cols + j, kern, h);
        }
      },
      [&](size_t j, float x, float y, float weight) { Point(order_[j], x, y, weight); });
}

void MovingGroup::Splat() {
  size_t n_rest = 0;
  for (size_t a = 0; a < count_;) {
    size_t e = a + 1;
    bool leftwards = false;
    while (e < count_ && MoveAlike(e - 1, e)) ++e;
    if (e - a < kMinAlike) {
      e = a + 1;
      while (e < count_ && MoveAlike(e, e - 1)) ++e;
      leftwards = true;
    }
    if (e - a >= kMinAlike) {
      Alike(a, e, leftwards);
    } else {
      for (size_t j = a; j < e; ++j) rest_[n_rest++] = j;
    }
    a = e;
  }
  // Streaks along x under span kernels go as boxes; streaks under a kernel
  // given with its taps bordered (tap kernels and span kernels up to a side,
  // see BlurPass) go one by one as weights, gathered (a streak of one point
  // too: it then shares its pass over the band with its neighbours); the
  // others are walked in step.
  size_t n_step = 0;
  for (size_t k = 0; k < n_rest; ++k) {
    const size_t j = rest_[k];
    if (boxes_[j])
      AsBoxes(j);
    else if (halves_[j] > 0 && bordered_[j])
      WalkAsWeights(j);
    else
      rest_[n_step++] = j;
  }
  AddGatheredWeights();
  if (n_step == count_) {
    streak::LayOutInStep(plans_.data(), count_, [this](size_t j, float x, float y, float w) { Point(j, x, y, w); });
  } else if (n_step > 0) {
    for (size_t j = 0; j < n_step; ++j) ordered_[j] = plans_[rest_[j]];
    streak::LayOutInStep(ordered_.data(), n_step,
                         [this](size_t j, float x, float y, float w) { Point(rest_[j], x, y, w); });
  }
  count_ = 0;
}

void MovingGroup::AddGatheredWeights() {
  if (gathered_ > 0) band_.AddGatheredWeights(gathered_colours_, gathered_);
  gathered_ = 0;
  gathered_lo_ = 0;
  gathered_hi_ = -1;
}

void MovingGroup::WalkAsWeights(size_t j) {
  const float* bordered = bordered_[j];
  const int32_t h = halves_[j];
  pixel_sample q = plans_[j].sample();
  // Streaks gather while their columns overlap (each added pixel then
  // serves several), and only in finite colours: 0 times infinity would
  // reach pixels beside a streak that never touches them.
  const Colour& col = colours_[j];
  const bool finite = std::isfinite(col.r) && std::isfinite(col.g) && std::isfinite(col.b) && std::isfinite(col.a);
  const double reach = std::fabs(double(q.vx)) / 2 + h + 3;
  const int64_t lo = int64_t(std::floor(double(q.x) - reach)), hi = int64_t(std::ceil(double(q.x) + reach));
  const int64_t joined = std::max(hi, gathered_hi_) - std::min(lo, gathered_lo_) + 1;
  if (gathered_ == kMaxGatheredStreaks || !finite ||
      (gathered_ > 0 && joined > (hi - lo + 1) + (gathered_hi_ - gathered_lo_ + 1)))
    AddGatheredWeights();
  // A slot for the streak's weights among those gathered.
  auto gather = [&] {
    gathered_lo_ = gathered_ > 0 ? std::min(lo, gathered_lo_) : lo;
    gathered_hi_ = gathered_ > 0 ? std::max(hi, gathered_hi_) : hi;
    gathered_colours_[gathered_] = col;
    return gathered_++;
  };
  int32_t streak = gather();
  int32_t points = 0;
  streak::LayOutInStep(&plans_[j], 1, [&](size_t, float x, float y, float w) {
    if (!Lands(x, y)) return;
    q.x = x;
    q.y = y;
    q.weight = w;
    band_.AddPointWeights(streak, q, bordered, h);
    // The weights are floats: a pixel takes at most kMaxWeightedPoints sums
    // of a streak before they go into the double planes, which bounds their
    // rounding (about 4e-6 of the value at worst).
    if (++points == kMaxWeightedPoints) {
      AddGatheredWeights();
      streak = gather();
      points = 0;
    }
  });
  if (!finite) AddGatheredWeights();
}

void MovingGroup::AlikeAsBoxes(size_t a, size_t e, bool leftwards) {
  // In order of their columns; every sample's streak over the offsets any
  // of them visits (those left out cannot reach the image, so they add
  // nothing there).
  const size_t n = e - a, leftmost = leftwards ? e - 1 : a;
  int64_t lo = INT64_MAX, hi = INT64_MIN;
  for (size_t k = 0; k < n; ++k) {
    const size_t j = leftwards ? e - 1 - k : a + k;
    ordered_colours_[k] = colours_[j];
    const streak::Plan& p = plans_[j];
    if (p.Ranges() == 0) continue;
    lo = std::min(lo, p.lo(0));
    hi = std::max(hi, p.hi(p.Ranges() - 1));
  }
  const streak::Plan& plan = plans_[leftmost];
  const int32_t x0 = int32_t(plan.sample().x), h = halves_[leftmost];
  const float y = plan.sample().y;
  const dof::KernelSpans& sp = *spans_[leftmost];
  if (lo <= hi)
    band_.AddSpanBoxes(x0 + int32_t(lo), y, int32_t(n), int32_t(hi - lo + 1), plan.weight(), ordered_colours_, h, sp);
  if (plan.HasEnds())
    for (int64_t end : {-plan.EndOffset(), plan.EndOffset()})
      band_.AddSpanPoints(x0 + int32_t(end), 0.0f, y, int32_t(n), plan.EndWeight(), ordered_colours_, h, sp);
}

void MovingGroup::AsBoxes(size_t j) {
  const streak::Plan& plan = plans_[j];
  const float w = plan.weight();
  // Points one column apart (either way: the mirror reflects the streak
  // past an edge) gather into one box; the rest go one by one.
  float first = 0, last = 0, step = 0, y = 0;
  int64_t n = 0;
  auto flush = [&] {
    if (n >= kMinBoxPoints)
      band_.AddSpanBoxes(FloorToInt(std::min(first, last)), y, 1, int32_t(n), w, &colours_[j], halves_[j], *spans_[j]);
    else
      for (int64_t k = 0; k < n; ++k) Point(j, first + float(k) * step, y, w);
    n = 0;
  };
  for (int r = 0; r < plan.Ranges(); ++r)
    for (int64_t i = plan.lo(r); i <= plan.hi(r); ++i) {
      float x, yi;
      plan.Position(i, x, yi);
      if (!Lands(x, yi)) {
        flush();
        continue;
      }
      const float dx = x - last;
      if (!(n > 0 && yi == y && (dx == 1.0f || dx == -1.0f) && (n == 1 || dx == step))) flush();
      if (n == 0) {
        first = x;
        y = yi;
      } else if (n == 1) {
        step = dx;
      }
      last = x;
      ++n;
    }
  flush();
  plan.Ends([&](const pixel_sample& q) { Point(j, q.x, q.y, q.weight); });
}

}  // namespace splat
