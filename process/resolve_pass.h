#pragma once
// The resolve pass: accumulated colour turned into the output's red, green,
// blue and alpha, one row at a time.
#include <cstdint>

#include "image/tessaly_image.h"

// With normalisation, a pixel whose accumulated weight is below this part of
// the frame's largest weight counts as one without weight (it is not
// divided). Kernels with negative weights ("Laplacian", a "BlurImage" with
// negative values) let a pixel's weights cancel to almost nothing; dividing
// by that would blow its colour up without bound. Below 1 % of the largest
// weight a pixel's weights have all but cancelled (or it is nearly black),
// and a divided colour is at most a hundred times what added up there.
constexpr float kNegligibleWeight = 0.01f;

struct ResolveSettings {
  bool normalize = false;      // divide by the accumulated weight
  float alpha_patch = 0.0f;    // "AlphaPatcher"
  float least_weight = 0.0f;   // below it (or at 0) no division
};

// The least weight that is divided by, for a frame whose weights are
// `norms` (width floats per row, `rows` rows `stride` bytes apart).
float LeastDividedWeight(const float* norms, int32_t width, int32_t rows, int32_t stride);

// Pixel x of the row: colour c = colors[x], weight n = norms[x]; with
// normalisation and n above 0 and at least least_weight, c /= n; then
// c *= alpha_patch + 1; an alpha above 1 divides the colour by it. Results
// go to the planes' pixel x.
void ResolveRow(const ResolveSettings& s, const tessaly_image::color_rgba_f* colors, const float* norms,
                int32_t width, float* r, float* g, float* b, float* a);
