#pragma once
// The blur pass's inner loops, written once with portable vectors and
// compiled for every instruction-set level this build targets; the level
// is chosen once per process (see the host's QUORVEX_SIMD switch). Every
// level computes the same sums in the same order; only the width of the
// steps differs (fused multiply-adds where the processor has them).
#include <cstdint>

#include "image/tessaly_image.h"

namespace splat {

// A band's five planes (red, green, blue, alpha, weight) at one position;
// pixel j of the run is plane[c][j]. Bands sum in double precision: a pixel
// under a large kernel and a long streak takes thousands of small additions,
// which float would round to a relative error of about 1e-5.
struct PlanarRun {
  double* plane[5];
};

// One footprint row: plane weight[j] += v, colour c[j] += v * col.c, with
// v = t * kern[j] (in double), for j < n.
void AddKernelRun(const PlanarRun& at, const float* kern, int32_t n, float t, const tessaly_image::color_rgba_f& col);

// One footprint row of `count` samples at consecutive columns sharing one
// kernel row: output pixel p (0 .. n - 1, at footprint column f = first + p)
// gets kern[f - j] * weights[j] (and times colour j) from every sample j
// that reaches it, summed before it is added once.
struct RowOfStills {
  PlanarRun at;          // output pixel 0
  int32_t first, n;      // footprint column of output pixel 0; output pixels
  const float* kpad;     // the kernel row after kStillsPad zeros, with kStillsPad more after it
  int32_t d, count;      // kernel row length, samples (at most kStillsPad)
  const float* weights;  // per sample
  const float* weighted; // per sample: weight times r, g, b, a (4 floats each)
};
constexpr int32_t kStillsPad = 16;
void AddRowOfStills(const RowOfStills& r);

// image[j] += band[j] (colour interleaved r, g, b, a in the image, planar in
// the band; the weight alone), then band[j] = 0, for j < n.
void AddBandRunAndClear(tessaly_image::color_rgba_f* image_color, float* image_norm, const PlanarRun& band,
                        int32_t n);


}  // namespace splat
