#pragma once
// The resolve pass: accumulated colour turned into the output's red, green,
// blue and alpha, one row at a time.
#include <cstdint>

#include "image/tessaly_image.h"

struct ResolveSettings {
  bool normalize = false;   // divide by the accumulated weight
  float alpha_patch = 0.0f; // "AlphaPatcher"
};

// Pixel x of the row: colour c = colors[x], weight n = norms[x]; with
// normalisation and n > 0, c /= n; then c *= alpha_patch + 1; an alpha above
// 1 divides the colour by it. Results go to the planes' pixel x.
void ResolveRow(const ResolveSettings& s, const tessaly_image::color_rgba_f* colors, const float* norms,
                int32_t width, float* r, float* g, float* b, float* a);
