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

// Output pixels p .. p + lanes - 1 of a row of stills, in tag `d`.
template <class D>
HWY_INLINE void StillsGroup(D d, const RowOfStills& r, int32_t p) {
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
    double* dst = r.at.plane[c] + p;
    for (int32_t i = 0; i < N; ++i) dst[i] += double(lanes[i]);
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
  int32_t p = 0;
  for (; p + N <= r.n; p += N) StillsGroup(d, r, p);
  const hn::CappedTag<float, 1> d1;
  for (; p < r.n; ++p) StillsGroup(d1, r, p);
}

}  // namespace HWY_NAMESPACE
}  // namespace splat
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace splat {

HWY_EXPORT(AddKernelRunImpl);
HWY_EXPORT(AddRowOfStillsImpl);

void AddKernelRun(const PlanarRun& at, const float* kern, int32_t n, float t, const tessaly_image::color_rgba_f& col) {
  HWY_DYNAMIC_DISPATCH(AddKernelRunImpl)(at, kern, n, t, col);
}

void AddRowOfStills(const RowOfStills& r) { HWY_DYNAMIC_DISPATCH(AddRowOfStillsImpl)(r); }

}  // namespace splat
#endif
