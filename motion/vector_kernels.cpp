// One source for every instruction-set level: Highway compiles this file
// once per target and dispatches to the level chosen for the process.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "motion/vector_kernels.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include <algorithm>
#include <utility>

#include "motion/vector_kernels.h"

HWY_BEFORE_NAMESPACE();
namespace splat {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// No lane count is assumed: at the scalar level a vector is one number.
template <class DD>
HWY_INLINE void KernelRunStep(DD dd, const PlanarRun& at, const float* kern, int32_t j, double t,
                              const tessaly_image::color_rgba_f& col) {
  const hn::Rebind<float, DD> df;
  const auto v = hn::Mul(hn::Set(dd, t), hn::PromoteTo(dd, hn::LoadU(df, kern + j)));
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
  const hn::ScalableTag<double> dd;
  const int32_t N = int32_t(hn::Lanes(dd));
  int32_t j = 0;
  for (; j + N <= n; j += N) KernelRunStep(dd, at, kern, j, t, col);
  // The rest one lane at a time, with the same operations.
  const hn::CappedTag<double, 1> d1;
  for (; j < n; ++j) KernelRunStep(d1, at, kern, j, t, col);
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
  const int32_t j0 = std::max(0, f - r.d + 1), j1 = std::min(r.count - 1, f + N - 1);
  auto ar = hn::Zero(d), ag = ar, ab = ar, aa = ar, an = ar;
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
  // The sums of at most kStillsPad samples go into the band's double planes.
  // (No arrays of vectors: scalable vectors have no size.)
  HWY_ALIGN float lanes[kStillsPad];
  auto add = [&](auto sum, int c) {
    hn::Store(sum, d, lanes);
    AddToDoubles(lanes, valid, r.at.plane[c] + p);
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

template <class DD>
HWY_INLINE void BandStep(DD dd, float* ic, float* in, const PlanarRun& band, int32_t j) {
  const hn::Rebind<float, DD> df;
  auto get = [&](int c) {
    double* p = band.plane[c] + j;
    const auto v = hn::DemoteTo(df, hn::LoadU(dd, p));
    hn::StoreU(hn::Zero(dd), dd, p);
    return v;
  };
  const auto r = get(0), g = get(1), b = get(2), a = get(3), w = get(4);
  auto ir = hn::Zero(df), ig = ir, ib = ir, ia = ir;
  hn::LoadInterleaved4(df, ic + 4 * j, ir, ig, ib, ia);
  hn::StoreInterleaved4(hn::Add(ir, r), hn::Add(ig, g), hn::Add(ib, b), hn::Add(ia, a), df, ic + 4 * j);
  hn::StoreU(hn::Add(hn::LoadU(df, in + j), w), df, in + j);
}

void AddBandRunAndClearImpl(tessaly_image::color_rgba_f* image_color, float* image_norm, const PlanarRun& band,
                            int32_t n) {
  const hn::ScalableTag<double> dd;
  const int32_t N = int32_t(hn::Lanes(dd));
  int32_t j = 0;
  for (; j + N <= n; j += N) BandStep(dd, reinterpret_cast<float*>(image_color), image_norm, band, j);
  const hn::CappedTag<double, 1> d1;
  for (; j < n; ++j) BandStep(d1, reinterpret_cast<float*>(image_color), image_norm, band, j);
}

// dst[c][j] += k * src[c][j] for the five planes, lanes of j at a time.
template <class DD>
HWY_INLINE void ScaledStep(DD dd, double* const* dst, const float* const* src, int32_t j, double k) {
  const hn::Rebind<float, DD> df;
  const auto vk = hn::Set(dd, k);
  for (int c = 0; c < 5; ++c) {
    double* p = dst[c] + j;
    hn::StoreU(hn::MulAdd(vk, hn::PromoteTo(dd, hn::LoadU(df, src[c] + j)), hn::LoadU(dd, p)), dd, p);
  }
}

// Samples j0 .. j1 - 1 of a run, each scaled by k, into planes whose
// pointers are at the run's sample 0.
HWY_INLINE void AddScaled(double* const* dst, const RunColours& src, int32_t j0, int32_t j1, double k) {
  const hn::ScalableTag<double> dd;
  const int32_t N = int32_t(hn::Lanes(dd));
  int32_t j = j0;
  for (; j + N <= j1; j += N) ScaledStep(dd, dst, src.plane, j, k);
  const hn::CappedTag<double, 1> d1;
  for (; j < j1; ++j) ScaledStep(d1, dst, src.plane, j, k);
}

// One sample's taps krow[t0 .. t1) at columns col .. (a rim of a row).
template <class DD>
HWY_INLINE void RimStep(DD dd, double* const* dst, const float* krow, int32_t t, const double* wc) {
  const hn::Rebind<float, DD> df;
  const auto k = hn::PromoteTo(dd, hn::LoadU(df, krow + t));
  for (int c = 0; c < 5; ++c) {
    double* p = dst[c] + t;
    hn::StoreU(hn::MulAdd(k, hn::Set(dd, wc[c]), hn::LoadU(dd, p)), dd, p);
  }
}
HWY_INLINE void AddRim(double* const* dst, const float* krow, int32_t t0, int32_t t1, const double* wc) {
  const hn::ScalableTag<double> dd;
  const int32_t N = int32_t(hn::Lanes(dd));
  int32_t t = t0;
  for (; t + N <= t1; t += N) RimStep(dd, dst, krow, t, wc);
  const hn::CappedTag<double, 1> d1;
  for (; t < t1; ++t) RimStep(d1, dst, krow, t, wc);
}

template <class DD>
HWY_INLINE void StepsStep(DD dd, const PlanarRun& dst, const PlanarRun& src, int32_t j) {
  for (int c = 0; c < 5; ++c) {
    double* p = dst.plane[c] + j;
    double* q = src.plane[c] + j;
    hn::StoreU(hn::Add(hn::LoadU(dd, p), hn::LoadU(dd, q)), dd, p);
    hn::StoreU(hn::Zero(dd), dd, q);
  }
}

void AddStepsAndClearImpl(const PlanarRun& dst, const PlanarRun& src, int32_t n) {
  const hn::ScalableTag<double> dd;
  const int32_t N = int32_t(hn::Lanes(dd));
  int32_t j = 0;
  for (; j + N <= n; j += N) StepsStep(dd, dst, src, j);
  const hn::CappedTag<double, 1> d1;
  for (; j < n; ++j) StepsStep(d1, dst, src, j);
}

// Output columns base + x, x0 <= x < x1, of taps k[0 .. n) at kernel
// columns first + i over a run: column base + x gets the sum over taps of
// k[i] * src[x - first - i] (zero outside the run), added once. Groups of
// columns do not overlap, so no store waits on another.
HWY_INLINE void GatherTaps(double* const* dst, int32_t base, int32_t first, int32_t n, const double* k,
                           const RunColours& src, int32_t count, int32_t x0, int32_t x1) {
  // At most kRunPad lanes: the run's padding covers that much.
  const hn::CappedTag<double, kRunPad> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const int32_t N = int32_t(hn::Lanes(dd));
  HWY_ALIGN double lanes[kRunPad];
  for (int32_t x = x0; x < x1; x += N) {
    // Taps that reach columns x .. x + N - 1 from some sample of the run.
    const int32_t i0 = std::max(0, x - first - count + 1), i1 = std::min(n - 1, x + N - 1 - first);
    auto acc0 = hn::Zero(dd), acc1 = acc0, acc2 = acc0, acc3 = acc0, acc4 = acc0;
    for (int32_t i = i0; i <= i1; ++i) {
      const auto kv = hn::Set(dd, k[i]);
      const int32_t j = x - first - i;
      acc0 = hn::MulAdd(kv, hn::PromoteTo(dd, hn::LoadU(df, src.plane[0] + j)), acc0);
      acc1 = hn::MulAdd(kv, hn::PromoteTo(dd, hn::LoadU(df, src.plane[1] + j)), acc1);
      acc2 = hn::MulAdd(kv, hn::PromoteTo(dd, hn::LoadU(df, src.plane[2] + j)), acc2);
      acc3 = hn::MulAdd(kv, hn::PromoteTo(dd, hn::LoadU(df, src.plane[3] + j)), acc3);
      acc4 = hn::MulAdd(kv, hn::PromoteTo(dd, hn::LoadU(df, src.plane[4] + j)), acc4);
    }
    const int32_t valid = std::min(N, x1 - x);
    auto add = [&](auto acc, int c) {
      double* p = dst[c] + base + x;
      if (valid == N) return hn::StoreU(hn::Add(hn::LoadU(dd, p), acc), dd, p);
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

// Kernel row i of one copy.
HWY_INLINE void AddCopyRow(const SpanRowWork& w, const SpanCopy& s, int32_t i) {
  double* const val[5] = {w.values.plane[0], w.values.plane[1], w.values.plane[2], w.values.plane[3],
                          w.values.plane[4]};
  double* const dif[5] = {w.steps.plane[0], w.steps.plane[1], w.steps.plane[2], w.steps.plane[3], w.steps.plane[4]};
  const dof::SpanRow& r = s.rows[i];
  const float* krow = s.kern + size_t(i) * size_t(s.d);
  const double v = s.scale * double(r.value);
  const float* store = w.colour_store + s.colours;
  if (s.count == 1) {
    double one[5];
    for (int c = 0; c < 5; ++c) one[c] = s.scale * double(store[c]);
    // Rims along their columns, clipped to the row.
    for (const auto& rim : {std::make_pair(r.left, r.lo), std::make_pair(r.hi, r.right)}) {
      const int32_t t0 = std::max(rim.first, -s.left), t1 = std::min(rim.second, w.width - s.left);
      if (t0 >= t1) continue;
      double* const at[5] = {val[0] + s.left, val[1] + s.left, val[2] + s.left, val[3] + s.left, val[4] + s.left};
      AddRim(at, krow, t0, t1, one);
    }
    if (r.hi <= r.lo) return;
    // Differences left of the row hold from column 0 on.
    for (const auto& e : {std::make_pair(s.left + r.lo, v), std::make_pair(s.left + r.hi, -v)}) {
      if (e.first >= w.width) continue;
      const int32_t col = std::max(e.first, 0);
      for (int c = 0; c < 5; ++c) dif[c][col] += e.second * double(store[c]);
    }
    return;
  }
  const size_t stride = size_t(s.count) + 2 * kRunPad;
  const RunColours src{{store + kRunPad, store + kRunPad + stride, store + kRunPad + 2 * stride,
                        store + kRunPad + 3 * stride, store + kRunPad + 4 * stride}};
  double* taps = w.taps;
  // Rims along the run: each group of output columns sums its taps first.
  for (const auto& rim : {std::make_pair(r.left, r.lo), std::make_pair(r.hi, r.right)}) {
    const int32_t t0 = rim.first, t1 = rim.second;
    if (t0 >= t1) continue;
    const int32_t x0 = std::max(t0, -s.left), x1 = std::min(t1 - 1 + s.count, w.width - s.left);
    for (int32_t t = t0; t < t1; ++t) taps[t - t0] = s.scale * double(krow[t]);
    GatherTaps(val, s.left, t0, t1 - t0, taps, src, s.count, x0, x1);
  }
  if (r.hi <= r.lo) return;
  // The run's differences that fall left of the row count at column 0.
  for (const auto& e : {std::make_pair(s.left + r.lo, v), std::make_pair(s.left + r.hi, -v)})
    for (int32_t j = 0; j < std::min(s.count, -e.first); ++j)
      for (int c = 0; c < 5; ++c) dif[c][0] += e.second * double(src.plane[c][j]);
  const int32_t x0 = std::max(r.lo, -s.left), x1 = std::min(r.hi + s.count, w.width - s.left);
  if (r.hi - r.lo >= s.count) {
    // The two runs of differences do not meet: each on its own.
    const double plus = v, minus = -v;
    GatherTaps(dif, s.left, r.lo, 1, &plus, src, s.count, x0, std::min(x1, r.lo + s.count));
    GatherTaps(dif, s.left, r.hi, 1, &minus, src, s.count, std::max(x0, r.hi), x1);
  } else {
    for (int32_t t = r.lo; t <= r.hi; ++t) taps[t - r.lo] = 0.0;
    taps[0] = v;
    taps[r.hi - r.lo] = -v;
    GatherTaps(dif, s.left, r.lo, r.hi - r.lo + 1, taps, src, s.count, x0, x1);
  }
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
HWY_EXPORT(AddRowOfStillsImpl);
HWY_EXPORT(AddBandRunAndClearImpl);
HWY_EXPORT(AddSpanRowImpl);
HWY_EXPORT(AddStepsAndClearImpl);

void AddStepsAndClear(const PlanarRun& dst, const PlanarRun& src, int32_t n) {
  HWY_DYNAMIC_DISPATCH(AddStepsAndClearImpl)(dst, src, n);
}

void AddSpanRow(const SpanRowWork& w) { HWY_DYNAMIC_DISPATCH(AddSpanRowImpl)(w); }

void AddKernelRun(const PlanarRun& at, const float* kern, int32_t n, float t, const tessaly_image::color_rgba_f& col) {
  HWY_DYNAMIC_DISPATCH(AddKernelRunImpl)(at, kern, n, t, col);
}

void AddRowOfStills(const RowOfStills& r) { HWY_DYNAMIC_DISPATCH(AddRowOfStillsImpl)(r); }

void AddBandRunAndClear(tessaly_image::color_rgba_f* image_color, float* image_norm, const PlanarRun& band,
                        int32_t n) {
  HWY_DYNAMIC_DISPATCH(AddBandRunAndClearImpl)(image_color, image_norm, band, n);
}

}  // namespace splat
#endif
