// One source for every instruction-set level: Highway compiles this file
// once per target and dispatches to the level chosen for the process.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "motion/vector_kernels.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include <algorithm>

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

}  // namespace HWY_NAMESPACE
}  // namespace splat
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace splat {

HWY_EXPORT(AddKernelRunImpl);
HWY_EXPORT(AddRowOfStillsImpl);
HWY_EXPORT(AddBandRunAndClearImpl);

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
