// One source for every instruction-set level: Highway compiles this file
// once per target and dispatches to the level chosen for the process.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "motion/vector_kernels.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "motion/vector_kernels.h"

HWY_BEFORE_NAMESPACE();
namespace splat {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// No lane count is assumed: at the scalar level a vector is one number.
// step(d, j) for the numbers j .. j + Lanes(d) - 1 of a run of n: whole
// vectors, then the rest in vectors of 8, 4, 2 and 1 lanes with the same
// operations (a kernel row of 31 floats is one 16-lane vector, one of 8,
// one of 4, one of 2 and one number, not 15 numbers).
template <class T, size_t kLanes, class Step>
HWY_INLINE void RestOfLanes(int32_t n, int32_t& j, const Step& step) {
  const hn::CappedTag<T, kLanes> d;
  const int32_t N = int32_t(hn::Lanes(d));
  for (; j + N <= n; j += N) step(d, j);
}
template <class T = double, class Step>
HWY_INLINE void ForEachLane(int32_t n, const Step& step) {
  const hn::ScalableTag<T> d;
  const int32_t N = int32_t(hn::Lanes(d));
  int32_t j = 0;
  for (; j + N <= n; j += N) step(d, j);
  RestOfLanes<T, 8>(n, j, step);
  RestOfLanes<T, 4>(n, j, step);
  RestOfLanes<T, 2>(n, j, step);
  RestOfLanes<T, 1>(n, j, step);
}

// Weights v (lanes of doubles) at pixel j of a band: times the colour into
// red, green, blue and alpha, and into the weight plane.
template <class DD, class V>
HWY_INLINE void AddInColour(DD dd, const PlanarRun& at, int32_t j, V v, const tessaly_image::color_rgba_f& col) {
  const double c[4] = {col.r, col.g, col.b, col.a};
  for (int k = 0; k < 4; ++k) {
    double* p = at.plane[k] + j;
    hn::StoreU(hn::MulAdd(v, hn::Set(dd, c[k]), hn::LoadU(dd, p)), dd, p);
  }
  double* w = at.plane[4] + j;
  hn::StoreU(hn::Add(hn::LoadU(dd, w), v), dd, w);
}

void AddKernelRunImpl(const PlanarRun& at, const float* kern, int32_t n, float t,
                      const tessaly_image::color_rgba_f& col) {
  ForEachLane(n, [&](auto dd, int32_t j) {
    const hn::Rebind<float, decltype(dd)> df;
    AddInColour(dd, at, j, hn::Mul(hn::Set(dd, double(t)), hn::PromoteTo(dd, hn::LoadU(df, kern + j))), col);
  });
}

// The same products and sums as the one-lane loop of LocalBand::AddPoints.
void AddPointRunImpl(const PlanarRun& at, const tessaly_image::color_rgba_f* colours, int32_t n, float v,
                     const float* weights) {
  const float* c = reinterpret_cast<const float*>(colours);
  ForEachLane(n, [&](auto dd, int32_t j) {
    const hn::Rebind<float, decltype(dd)> df;
    auto r = hn::Zero(df), g = r, b = r, a = r;
    hn::LoadInterleaved4(df, c + 4 * j, r, g, b, a);
    auto vv = hn::Set(dd, double(v));
    if (weights) vv = hn::Mul(vv, hn::PromoteTo(dd, hn::LoadU(df, weights + j)));
    auto add = [&](auto channel, int k) {
      double* p = at.plane[k] + j;
      hn::StoreU(hn::Add(hn::LoadU(dd, p), hn::Mul(vv, hn::PromoteTo(dd, channel))), dd, p);
    };
    double* w = at.plane[4] + j;
    hn::StoreU(hn::Add(hn::LoadU(dd, w), vv), dd, w);
    add(r, 0);
    add(g, 1);
    add(b, 2);
    add(a, 3);
  });
}

// kUp / kLeft: whether the copies from the row above / the column left
// carry weight. Streak points sit on whole pixels along their major axis,
// so one of the two is almost always off, and the sums skip its zero
// terms (which change nothing: adding 0 * k leaves a sum as it is).
template <bool kUp, bool kLeft>
HWY_INLINE void MergedCopiesRows(const MergedCopies& m) {
  static_assert(HWY_MAX_BYTES / sizeof(float) <= kVectorSlack, "rows' last lanes read past their ends");
  const hn::ScalableTag<float> df;
  const int32_t N = int32_t(hn::Lanes(df));
  float* weights = m.weights;
  const float* k = m.k;
  for (int32_t i = 0; i < m.rows; ++i, weights += m.weight_stride, k += m.k_stride) {
    const float* up = k - m.k_stride;
    auto sum = [&](int32_t j) {
      auto s = hn::Mul(hn::Set(df, m.a0), hn::LoadU(df, k + j));
      if (kLeft) s = hn::MulAdd(hn::Set(df, m.a1), hn::LoadU(df, k + j - 1), s);
      if (kUp) s = hn::MulAdd(hn::Set(df, m.b0), hn::LoadU(df, up + j), s);
      if (kUp && kLeft) s = hn::MulAdd(hn::Set(df, m.b1), hn::LoadU(df, up + j - 1), s);
      return s;
    };
    int32_t j = 0;
    for (; j + N <= m.n; j += N) hn::StoreU(hn::Add(hn::LoadU(df, weights + j), sum(j)), df, weights + j);
    if (j < m.n) {
      // One vector for the rest: lanes past n keep what they held.
      const auto old = hn::LoadU(df, weights + j);
      hn::StoreU(hn::IfThenElse(hn::FirstN(df, size_t(m.n - j)), hn::Add(old, sum(j)), old), df, weights + j);
    }
  }
}

void AddMergedCopiesImpl(const MergedCopies& m) {
  const bool up = m.b0 != 0.0f || m.b1 != 0.0f, left = m.a1 != 0.0f || m.b1 != 0.0f;
  if (up && left) return MergedCopiesRows<true, true>(m);
  if (up) return MergedCopiesRows<true, false>(m);
  if (left) return MergedCopiesRows<false, true>(m);
  MergedCopiesRows<false, false>(m);
}

void AddWeightsInColoursAndClearImpl(const PlanarRun& at, float* const* weights,
                                     const tessaly_image::color_rgba_f* colours, int32_t streaks, int32_t n) {
  ForEachLane(n, [&](auto dd, int32_t j) {
    const hn::Rebind<float, decltype(dd)> df;
    // The same products and sums, in the same order, as adding the streaks
    // one after another.
    auto r = hn::LoadU(dd, at.plane[0] + j), g = hn::LoadU(dd, at.plane[1] + j);
    auto b = hn::LoadU(dd, at.plane[2] + j), a = hn::LoadU(dd, at.plane[3] + j);
    auto w = hn::LoadU(dd, at.plane[4] + j);
    for (int32_t s = 0; s < streaks; ++s) {
      const auto v = hn::PromoteTo(dd, hn::LoadU(df, weights[s] + j));
      hn::StoreU(hn::Zero(df), df, weights[s] + j);
      r = hn::MulAdd(v, hn::Set(dd, double(colours[s].r)), r);
      g = hn::MulAdd(v, hn::Set(dd, double(colours[s].g)), g);
      b = hn::MulAdd(v, hn::Set(dd, double(colours[s].b)), b);
      a = hn::MulAdd(v, hn::Set(dd, double(colours[s].a)), a);
      w = hn::Add(w, v);
    }
    hn::StoreU(r, dd, at.plane[0] + j);
    hn::StoreU(g, dd, at.plane[1] + j);
    hn::StoreU(b, dd, at.plane[2] + j);
    hn::StoreU(a, dd, at.plane[3] + j);
    hn::StoreU(w, dd, at.plane[4] + j);
  });
}

// Adds `count` (at most kStillsPad) float sums to a band plane of doubles.
HWY_INLINE void AddToDoubles(const float* sums, int32_t count, double* dst) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const int32_t N = int32_t(hn::Lanes(dd));
  int32_t i = 0;
  for (; i + N <= count; i += N)
    hn::StoreU(hn::Add(hn::LoadU(dd, dst + i), hn::PromoteTo(dd, hn::LoadU(df, sums + i))), dd, dst + i);
  for (; i < count; ++i) dst[i] += double(sums[i]);
}

// Output pixels p .. p + lanes - 1 of a row of stills, of which the first
// `valid` are added (the others lie past the run; the kernel row's padding
// keeps their reads inside it).
template <class D>
HWY_INLINE void StillsGroup(D d, const RowOfStills& r, int32_t p, int32_t valid) {
  const int32_t N = int32_t(hn::Lanes(d));
  const float* k0 = r.kpad + kStillsPad;
  const int32_t f = r.first + p;
  auto ar = hn::Zero(d), ag = ar, ab = ar, aa = ar, an = ar;
  if (r.planar) {
    // Tap t of output pixel f + i comes from sample f + i - t: taps from
    // the last down to the first add the samples in increasing order, as
    // below. Samples past the run read as zeros.
    const float* pl = r.planar + kStillsPad + f;
    for (int32_t t = r.d - 1; t >= 0; --t) {
      const auto k = hn::Set(d, k0[t]);
      ar = hn::MulAdd(k, hn::LoadU(d, pl - t), ar);
      ag = hn::MulAdd(k, hn::LoadU(d, pl + kStillsPlaneStride - t), ag);
      ab = hn::MulAdd(k, hn::LoadU(d, pl + 2 * kStillsPlaneStride - t), ab);
      aa = hn::MulAdd(k, hn::LoadU(d, pl + 3 * kStillsPlaneStride - t), aa);
      an = hn::MulAdd(k, hn::LoadU(d, pl + 4 * kStillsPlaneStride - t), an);
    }
  } else {
    const int32_t j0 = std::max(0, f - r.d + 1), j1 = std::min(r.count - 1, f + N - 1);
    for (int32_t j = j0; j <= j1; ++j) {
      // Kernel values for pixels p .. p + N - 1 from sample j; the padding
      // gives zeros where the sample does not reach.
      const auto k = hn::LoadU(d, k0 + (f - j));
      const float* wc = r.weighted + 4 * j;
      ar = hn::MulAdd(k, hn::Set(d, wc[0]), ar);
      ag = hn::MulAdd(k, hn::Set(d, wc[1]), ag);
      ab = hn::MulAdd(k, hn::Set(d, wc[2]), ab);
      aa = hn::MulAdd(k, hn::Set(d, wc[3]), aa);
      an = hn::MulAdd(k, hn::Set(d, r.weights[j]), an);
    }
  }
  // The sums of at most kStillsPad samples go into the band's double planes.
  // (No arrays of vectors: scalable vectors have no size.)
  HWY_ALIGN float lanes[kStillsPad];
  auto add = [&](auto sum, int c) {
    hn::Store(sum, d, lanes);
    AddToDoubles(lanes, valid, r.at.plane[c] + p);
    if (r.also.plane[0]) AddToDoubles(lanes, valid, r.also.plane[c] + p);
  };
  add(ar, 0);
  add(ag, 1);
  add(ab, 2);
  add(aa, 3);
  add(an, 4);
}

void AddRowOfStillsImpl(const RowOfStills& r) {
  // At most kStillsPad lanes: the kernel row's padding covers that much.
  const hn::CappedTag<float, kStillsPad> d;
  const int32_t N = int32_t(hn::Lanes(d));
  for (int32_t p = 0; p < r.n; p += N) StillsGroup(d, r, p, std::min(N, r.n - p));
}

// Doubles to floats as every vector unit converts them: past float's range
// to infinity. (The emulated targets' DemoteTo holds them to the largest
// float, so an infinite colour would come out finite there alone.)
template <class DF, class DD, class V>
HWY_INLINE auto ToFloats(DF df, DD dd, V v) {
#if HWY_TARGET == HWY_SCALAR || HWY_TARGET == HWY_EMU128
  double in[2];  // at most one 128-bit vector
  float out[2];
  hn::StoreU(v, dd, in);
  for (size_t i = 0; i < hn::Lanes(dd); ++i) out[i] = static_cast<float>(in[i]);
  return hn::LoadU(df, out);
#else
  (void)dd;
  return hn::DemoteTo(df, v);
#endif
}

void AddBandRunAndClearImpl(tessaly_image::color_rgba_f* image_color, float* image_norm, const PlanarRun& band,
                            int32_t n) {
  float* ic = reinterpret_cast<float*>(image_color);
  ForEachLane(n, [&](auto dd, int32_t j) {
    const hn::Rebind<float, decltype(dd)> df;
    auto get = [&](int c) {
      double* p = band.plane[c] + j;
      const auto v = ToFloats(df, dd, hn::LoadU(dd, p));
      hn::StoreU(hn::Zero(dd), dd, p);
      return v;
    };
    const auto r = get(0), g = get(1), b = get(2), a = get(3), w = get(4);
    auto ir = hn::Zero(df), ig = ir, ib = ir, ia = ir;
    hn::LoadInterleaved4(df, ic + 4 * j, ir, ig, ib, ia);
    hn::StoreInterleaved4(hn::Add(ir, r), hn::Add(ig, g), hn::Add(ib, b), hn::Add(ia, a), df, ic + 4 * j);
    hn::StoreU(hn::Add(hn::LoadU(df, image_norm + j), w), df, image_norm + j);
  });
}

// A stretch of taps k[0 .. n) at kernel columns first + i.
struct TapStretch {
  int32_t first, n;
  const double* k;
};

// Output columns base + x, x0 <= x < x1, of the taps of `ns` stretches
// over a run: column base + x gets the sum over taps of k[i] *
// src[x - first - i] (zero outside the run), added once. Groups of columns
// do not overlap, so no store waits on another. The row ends before
// x = row_end. The sums go in times `sign` (1 or -1).
HWY_INLINE void GatherTaps(double* const* dst, int32_t base, const TapStretch* st, int ns, const RunColours& src,
                           int32_t count, int32_t x0, int32_t x1, int32_t row_end, double sign) {
  // At most kRunPad lanes: the run's padding covers that much.
  const hn::CappedTag<double, kRunPad> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const int32_t N = int32_t(hn::Lanes(dd));
  HWY_ALIGN double lanes[kRunPad];
  // Groups on a grid of whole vectors of image columns, the same for every
  // run: a group then reads back exactly what an earlier one stored (a
  // read across two earlier stores would wait for both to finish). Lanes
  // before x0 add zeros (the run's padding).
  const int32_t lead = (base + x0) % N;
  for (int32_t x = x0 - lead; x < x1; x += N) {
    auto acc0 = hn::Zero(dd), acc1 = acc0, acc2 = acc0, acc3 = acc0, acc4 = acc0;
    for (int s = 0; s < ns; ++s) {
      // Taps that reach columns x .. x + N - 1 from some sample of the run.
      const int32_t first = st[s].first;
      const int32_t i0 = std::max(0, x - first - count + 1), i1 = std::min(st[s].n - 1, x + N - 1 - first);
      for (int32_t i = i0; i <= i1; ++i) {
        const auto kv = hn::Set(dd, st[s].k[i]);
        const int32_t j = x - first - i;
        acc0 = hn::MulAdd(kv, hn::PromoteTo(dd, hn::LoadU(df, src.plane[0] + j)), acc0);
        acc1 = hn::MulAdd(kv, hn::PromoteTo(dd, hn::LoadU(df, src.plane[1] + j)), acc1);
        acc2 = hn::MulAdd(kv, hn::PromoteTo(dd, hn::LoadU(df, src.plane[2] + j)), acc2);
        acc3 = hn::MulAdd(kv, hn::PromoteTo(dd, hn::LoadU(df, src.plane[3] + j)), acc3);
        acc4 = hn::MulAdd(kv, hn::PromoteTo(dd, hn::LoadU(df, src.plane[4] + j)), acc4);
      }
    }
    // Lanes past the run's last output are zero (the padding), so a whole
    // vector goes in wherever it stays inside the row.
    const int32_t valid = std::min(N, x1 - x);
    const auto vsign = hn::Set(dd, sign);
    auto add = [&](auto acc, int c) {
      acc = hn::Mul(acc, vsign);
      double* p = dst[c] + base + x;
      if (valid == N || x + N <= row_end) return hn::StoreU(hn::Add(hn::LoadU(dd, p), acc), dd, p);
      hn::Store(acc, dd, lanes);
      for (int32_t l = 0; l < valid; ++l) p[l] += lanes[l];
    };
    add(acc0, 0);
    add(acc1, 1);
    add(acc2, 2);
    add(acc3, 3);
    add(acc4, 4);
  }
}

// One side (left or right of the span) of a copy's footprint row: the
// differences of up to two kernel rows (parts), each also one column right
// with a fractional column, from kernel column t0 to t1.
struct SideParts {
  int np = 0;
  int32_t seg0[2] = {0, 0}, seg1[2] = {0, 0};
  const double* dl[2] = {nullptr, nullptr};  // dl[p][t]: part p's difference at kernel column t
  double w0[2] = {0, 0}, w1[2] = {0, 0};
  bool frac_x = false;
  int32_t t0 = INT32_MAX, t1 = INT32_MIN;
  // The footprint's difference at column t (zero outside the stretches).
  double Tap(int32_t t) const {
    double k = 0.0;
    for (int p = 0; p < np; ++p) {
      if (t >= seg0[p] && t < seg1[p]) k += w0[p] * dl[p][t];
      if (frac_x && t - 1 >= seg0[p] && t - 1 < seg1[p]) k += w1[p] * dl[p][t - 1];
    }
    return k;
  }
};

// One point's side (see SideParts) times sign * one[c], added into `dif`
// from column `left`.
// Differences left of the row hold from column 0 on. Into second
// differences (`first` given), one at column c < 0 also adds -c times
// itself to the first differences at column 0: summed twice, the two give
// the same columns from 0 on.
HWY_INLINE void AddOneSide(double* const* dif, double* const* first, int32_t left, int32_t width, const double* one,
                           double sign, const SideParts& sp) {
  const int32_t t0 = sp.t0, t1 = sp.t1;
  auto tap = [&](int32_t t) { return sign * sp.Tap(t); };
  for (int32_t t = t0; t < std::min(t1, -left); ++t) {
    const double k = tap(t);
    for (int c = 0; c < 5; ++c) dif[c][0] += k * one[c];
    if (first)
      for (int c = 0; c < 5; ++c) first[c][0] += double(-(left + t)) * (k * one[c]);
  }
  const int32_t u0 = std::max(t0, -left), u1 = std::min(t1, width - left);
  if (u0 >= u1) return;
  double* const at[5] = {dif[0] + left, dif[1] + left, dif[2] + left, dif[3] + left, dif[4] + left};
  // Whole vectors of the parts' differences, read straight from the kernel
  // (its zeros around each stretch fill the lanes past it).
  const hn::CappedTag<double, kRunPad> dd;
  const int32_t N = int32_t(hn::Lanes(dd));
  const int32_t row_end = width - left;
  // On a grid of whole vectors of image columns (see GatherTaps); lanes
  // before u0 and past u1 add zeros, unless a colour is not finite (zero
  // times it is not zero): then column by column.
  const bool finite = std::isfinite(one[0]) && std::isfinite(one[1]) && std::isfinite(one[2]) &&
                      std::isfinite(one[3]) && std::isfinite(one[4]);
  int32_t t = finite ? u0 - (left + u0) % N : u0;
  const auto vsign = hn::Set(dd, sign);
  for (; finite && t < u1 && t + N <= row_end; t += N) {
    auto kv = hn::Zero(dd);
    for (int p = 0; p < sp.np; ++p) {
      if (t + N <= sp.seg0[p] || t > sp.seg1[p]) continue;
      kv = hn::MulAdd(hn::Set(dd, sp.w0[p]), hn::LoadU(dd, sp.dl[p] + t), kv);
      if (sp.frac_x) kv = hn::MulAdd(hn::Set(dd, sp.w1[p]), hn::LoadU(dd, sp.dl[p] + t - 1), kv);
    }
    kv = hn::Mul(kv, vsign);
    for (int c = 0; c < 5; ++c) {
      double* q = at[c] + t;
      hn::StoreU(hn::MulAdd(kv, hn::Set(dd, one[c]), hn::LoadU(dd, q)), dd, q);
    }
  }
  for (; t < u1; ++t) {
    const double k = tap(t);
    for (int c = 0; c < 5; ++c) at[c][t] += k * one[c];
  }
}

// A run's sides (taps of `nsides` stretches, see AddCopyRow) gathered along
// the run into `dif` from column `base` on, times `sign`. A difference left
// of the row counts at column 0 (into second differences, `first` given, as
// in AddOneSide).
HWY_INLINE void GatherRun(const SpanRowWork& w, const SpanCopy& s, const TapStretch* sides, int nsides,
                          const RunColours& src, double* const* dif, double* const* first, int32_t base, double sign) {
  int32_t side_x0[2], side_x1[2];
  for (int k = 0; k < nsides; ++k) {
    const TapStretch& st = sides[k];
    // Sample j's difference at footprint column t lands on column base + t + j.
    for (int32_t t = st.first; t < std::min(st.first + st.n, -base); ++t)
      for (int32_t j = 0; j < std::min(s.count, -base - t); ++j) {
        const double k0 = sign * st.k[t - st.first];
        for (int c = 0; c < 5; ++c) {
          const double e = k0 * double(src.plane[c][j]);
          dif[c][0] += e;
          if (first) first[c][0] += double(-(base + t + j)) * e;
        }
      }
    side_x0[k] = std::max(st.first, -base);
    side_x1[k] = std::min(st.first + st.n - 1 + s.count, w.width - base);
  }
  // Along the run: each group of output columns sums its taps first. Where
  // the two sides' columns meet (a run longer than the span), one pass
  // over the columns takes both, so each column is added once.
  const int32_t row_end = w.width - base;
  if (nsides == 2 && side_x0[1] <= side_x1[0])
    return GatherTaps(dif, base, sides, 2, src, s.count, side_x0[0], std::max(side_x1[0], side_x1[1]), row_end, sign);
  for (int k = 0; k < nsides; ++k)
    if (side_x0[k] < side_x1[k])
      GatherTaps(dif, base, &sides[k], 1, src, s.count, side_x0[k], side_x1[k], row_end, sign);
}

// Row i of one copy's footprint: kernel row i (weight 1 - fy) and kernel
// row i - 1 (weight fy), each also one column right (weight fx), merged
// into one list of differences for each side of the span.
HWY_INLINE void AddCopyRow(const SpanRowWork& w, const SpanCopy& s, int32_t i) {
  double* const dif[5] = {w.steps.plane[0], w.steps.plane[1], w.steps.plane[2], w.steps.plane[3], w.steps.plane[4]};
  double* const dif2[5] = {w.second.plane[0], w.second.plane[1], w.second.plane[2], w.second.plane[3],
                           w.second.plane[4]};
  const bool frac_x = s.fx > 0.0f, frac_y = s.fy > 0.0f;
  const float wx[2] = {1.0f - s.fx, s.fx};
  struct Part {
    int32_t row;
    float wy;
  } parts[2];
  int np = 0;
  if (i < s.d) parts[np++] = {i, 1.0f - s.fy};
  if (frac_y && i >= 1) parts[np++] = {i - 1, s.fy};
  const float* store = w.colour_store + s.colours;
  double* taps = w.taps;
  // A run's sides (count > 1), gathered after the loop.
  TapStretch sides[2];
  int nsides = 0;
  RunColours src{};
  if (s.count > 1) {
    const size_t stride = size_t(s.count) + 2 * kRunPad;
    for (int c = 0; c < 5; ++c) src.plane[c] = store + kRunPad + size_t(c) * stride;
  }
  for (int g = 0; g < 2; ++g) {
    // The side's columns over both parts.
    SideParts sp;
    sp.np = np;
    sp.frac_x = frac_x;
    for (int p = 0; p < np; ++p) {
      const dof::SpanRow& r = s.spans->rows[size_t(parts[p].row)];
      sp.seg0[p] = g == 0 ? r.a0 : r.b0;
      sp.seg1[p] = g == 0 ? r.a1 : r.b1;
      sp.dl[p] = s.spans->deltas.data() + (g == 0 ? r.a : r.b) - sp.seg0[p];
      sp.w0[p] = s.scale * double(parts[p].wy * wx[0]);
      sp.w1[p] = s.scale * double(parts[p].wy * wx[1]);
      if (sp.seg0[p] >= sp.seg1[p]) continue;
      sp.t0 = std::min(sp.t0, sp.seg0[p]);
      sp.t1 = std::max(sp.t1, sp.seg1[p] + (frac_x ? 1 : 0));
    }
    const int32_t t0 = sp.t0, t1 = sp.t1;
    if (t0 >= t1) continue;
    if (s.count == 1) {
      const double one[5] = {store[0], store[1], store[2], store[3], store[4]};
      if (s.length == 1) {
        AddOneSide(dif, nullptr, s.left, w.width, one, 1.0, sp);
        continue;
      }
      // A box: the side's differences run along the box, whose differences
      // are these at its start less the same past its end.
      AddOneSide(dif2, dif, s.left, w.width, one, 1.0, sp);
      AddOneSide(dif2, dif, s.left + s.length, w.width, one, -1.0, sp);
      continue;
    }
    for (int32_t t = t0; t < t1; ++t) taps[t - t0] = sp.Tap(t);
    sides[nsides++] = {t0, t1 - t0, taps};
    taps += t1 - t0;
  }
  if (nsides == 0) return;
  if (s.length == 1) return GatherRun(w, s, sides, nsides, src, dif, nullptr, s.left, 1.0);
  GatherRun(w, s, sides, nsides, src, dif2, dif, s.left, 1.0);
  GatherRun(w, s, sides, nsides, src, dif2, dif, s.left + s.length, -1.0);
}

void AddSpanRowImpl(const SpanRowWork& w) {
  for (size_t a = 0; a < w.count; ++a) {
    const SpanCopy& s = w.copies[w.active[a]];
    AddCopyRow(w, s, w.row - s.top);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace splat
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace splat {

HWY_EXPORT(AddKernelRunImpl);
HWY_EXPORT(AddMergedCopiesImpl);
HWY_EXPORT(AddPointRunImpl);
HWY_EXPORT(AddWeightsInColoursAndClearImpl);
HWY_EXPORT(AddRowOfStillsImpl);
HWY_EXPORT(AddBandRunAndClearImpl);
HWY_EXPORT(AddSpanRowImpl);

void AddSpanRow(const SpanRowWork& w) { HWY_DYNAMIC_DISPATCH(AddSpanRowImpl)(w); }

void AddKernelRun(const PlanarRun& at, const float* kern, int32_t n, float t, const tessaly_image::color_rgba_f& col) {
  HWY_DYNAMIC_DISPATCH(AddKernelRunImpl)(at, kern, n, t, col);
}

void AddPointRun(const PlanarRun& at, const tessaly_image::color_rgba_f* colours, int32_t n, float v,
                 const float* weights) {
  HWY_DYNAMIC_DISPATCH(AddPointRunImpl)(at, colours, n, v, weights);
}

void AddMergedCopies(const MergedCopies& m) { HWY_DYNAMIC_DISPATCH(AddMergedCopiesImpl)(m); }

void AddWeightsInColoursAndClear(const PlanarRun& at, float* const* weights, const tessaly_image::color_rgba_f* colours,
                                 int32_t streaks, int32_t n) {
  HWY_DYNAMIC_DISPATCH(AddWeightsInColoursAndClearImpl)(at, weights, colours, streaks, n);
}

void AddRowOfStills(const RowOfStills& r) { HWY_DYNAMIC_DISPATCH(AddRowOfStillsImpl)(r); }

void AddBandRunAndClear(tessaly_image::color_rgba_f* image_color, float* image_norm, const PlanarRun& band,
                        int32_t n) {
  HWY_DYNAMIC_DISPATCH(AddBandRunAndClearImpl)(image_color, image_norm, band, n);
}

}  // namespace splat
#endif
