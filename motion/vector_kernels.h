#pragma once
// The blur pass's inner loops, written once with portable vectors and
// compiled for every instruction-set level this build targets; the level
// is chosen once per process (see the host's QUORVEX_SIMD switch). Every
// level computes the same sums in the same order; only the width of the
// steps differs (fused multiply-adds where the processor has them).
#include <cstddef>
#include <cstdint>
#include <utility>

#include "dof/kernel_spans.h"
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
  PlanarRun also{};      // when set (plane[0] not null), output pixel 0 of a
                         // second row that takes the same sums
  // When set (for rows of at most kStillsPad taps): the same weighted
  // colours and weights as five planes (see kStillsPlaneStride), so that
  // each output vector sums the row's d taps rather than every sample of
  // the run. The terms and their order are the same either way.
  const float* planar = nullptr;
};
constexpr int32_t kStillsPad = 16;
// Plane c (r, g, b, a, weight) of RowOfStills::planar starts at
// c * kStillsPlaneStride: kStillsPad zeros, at most kStillsPad samples,
// zeros to the end.
constexpr int32_t kStillsPlaneStride = 4 * kStillsPad;
void AddRowOfStills(const RowOfStills& r);

// One row of points at consecutive columns, of weight v_j = v (or, given
// `weights`, v times weights[j]): plane weight[j] += v_j, colour c[j] +=
// v_j * colours[j].c (in double), for j < n.
void AddPointRun(const PlanarRun& at, const tessaly_image::color_rgba_f* colours, int32_t n, float v,
                 const float* weights = nullptr);

// A point's four bilinear copies of a kernel merged, as weights: with k the
// kernel inside its zero border (rows k_stride apart) at the footprint's
// first tap, weights[i * weight_stride + j] += a0 k[i][j] + a1 k[i][j - 1]
// + b0 k[i - 1][j] + b1 k[i - 1][j - 1], for i < rows, j < n. A row's
// last lanes go as one whole vector whose lanes past n are read and written
// back unchanged: both the weights and the kernel need kVectorSlack floats
// readable past their ends.
constexpr size_t kVectorSlack = 64;  // the widest vector of floats (2048-bit SVE)
struct MergedCopies {
  float* weights;
  size_t weight_stride;
  const float* k;
  size_t k_stride;
  int32_t rows, n;
  float a0, a1, b0, b1;
};
void AddMergedCopies(const MergedCopies& m);

// For each streak s < streaks in turn: plane weight[j] += weights[s][j],
// colour c[j] += weights[s][j] * colours[s].c; then weights[s][j] = 0; for
// j < n. Each pixel is read and written once for all the streaks.
constexpr int32_t kMaxGatheredStreaks = 8;
void AddWeightsInColoursAndClear(const PlanarRun& at, float* const* weights, const tessaly_image::color_rgba_f* colours,
                                 int32_t streaks, int32_t n);

// image[j] += band[j] (colour interleaved r, g, b, a in the image, planar in
// the band; the weight alone), then band[j] = 0, for j < n.
void AddBandRunAndClear(tessaly_image::color_rgba_f* image_color, float* image_norm, const PlanarRun& band,
                        int32_t n);

// Bytes from one plane's start to the next's, for planes of `bytes` each
// kept in one block (0 when that would overflow with `planes` of them).
// Each plane starts 320 bytes (five cache lines) further round a 4 KiB page
// than the one before: planes read and written at one offset together
// would otherwise share their addresses' low 12 bits, which the processor
// takes for a possible dependence between a store to one and a load from
// the next.
inline size_t StaggeredPlaneBytes(size_t bytes, size_t planes) {
  constexpr size_t kPage = 4096, kStagger = 320;
  if (bytes > (SIZE_MAX / planes) - kPage - kStagger) return 0;
  return (bytes + kPage - 1) / kPage * kPage + kStagger;
}

// A frame's column differences: five planes of doubles, `width` a row, and
// for each row the columns written so far (first > second: none). Boxes
// along rows (streaks along x) go into second differences (`second`, summed
// twice along each row; `boxed` marks the rows that hold some), everything
// else into first differences (`plane`).
struct StepImage {
  double* plane[5];
  double* second[5];
  int32_t width;
  std::pair<int32_t, int32_t>* written;
  uint8_t* boxed;
  PlanarRun At(int32_t r, int32_t c) const { return Row(plane, r, c); }
  PlanarRun SecondAt(int32_t r, int32_t c) const { return Row(second, r, c); }

 private:
  PlanarRun Row(double* const* p, int32_t r, int32_t c) const {
    const size_t o = size_t(r) * size_t(width) + size_t(c);
    return {{p[0] + o, p[1] + o, p[2] + o, p[3] + o, p[4] + o}};
  }
};

// A run of samples' weighted colours, planar: plane[c][j] is sample j's
// weight times its red, green, blue, alpha (c < 4) and its weight (c = 4),
// with kRunPad zeros before and after the run.
constexpr int32_t kRunPad = 16;
struct RunColours {
  const float* plane[5];
};

// A span kernel (side d) waiting for `count` samples at consecutive
// columns: kernel column 0 of sample j at column left + j + fx, kernel row
// 0 on image row top + fy (fractions split bilinearly over the pixels
// around), each sample weighted `scale` times its colours. Its
// colours sit in a colour store at `colours`: five floats for one sample,
// else five planes of count + 2 kRunPad floats (the run between kRunPad
// zeros on either side). With `length` above 1 each sample is a streak
// along the row of that many points, one column apart from left + j on (a
// box): the copy's differences then go into the second differences at
// `left` and, negated, at left + length, whatever the length.
struct SpanCopy {
  int32_t left, top, count, d;
  float fx, fy;
  double scale;
  const dof::KernelSpans* spans;
  size_t colours;
  int32_t length = 1;
};

// One image row's part of the copies that cover it, as column differences
// added into `steps` (the row's planes at column 0): their running sum
// along the row gives the kernels. Columns past width - 1 are dropped; a
// difference left of column 0 counts at column 0.
struct SpanRowWork {
  PlanarRun steps, second;  // second: null planes when no copy is a box
  int32_t width, row;
  const SpanCopy* copies;
  const uint32_t* active;  // indices of the copies covering the row
  size_t count;
  const float* colour_store;
  double* taps;  // scratch: the largest d + 2 + kRunPad doubles
};
void AddSpanRow(const SpanRowWork& w);
}  // namespace splat
