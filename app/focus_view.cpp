#include "app/focus_view.h"

#include <algorithm>
#include <cmath>

void FocusRampColour(const FocusRamp& ramp, float d, float rgb[3]) {
  const float span = ramp.largest - ramp.smallest;
  const float t = span > 0.0f ? std::clamp((d - ramp.smallest) / span, 0.0f, 1.0f) : 1.0f;
  // Blue to green over the first half, green to red over the second.
  rgb[0] = std::max(0.0f, 2.0f * t - 1.0f);
  rgb[1] = 1.0f - std::fabs(2.0f * t - 1.0f);
  rgb[2] = std::max(0.0f, 1.0f - 2.0f * t);
}

FocusRamp FocusViewPixels(const float* source, const float* diameters, size_t count, float* out) {
  FocusRamp ramp;
  for (size_t i = 0; i < count; ++i)
    if (std::isfinite(diameters[i])) ramp.largest = std::max(ramp.largest, diameters[i]);
  for (size_t i = 0; i < count; ++i) {
    const float* s = source + 4 * i;
    float* o = out + 4 * i;
    const float d = diameters[i];
    if (!(d >= 1.0f)) {
      std::copy(s, s + 4, o);
      continue;
    }
    // Rec. 709 luminance; a small floor keeps black areas' blur visible.
    const float luma = 0.2126f * s[0] + 0.7152f * s[1] + 0.0722f * s[2];
    const float level = 0.1f + 0.5f * std::clamp(luma, 0.0f, 1.0f);
    float rgb[3];
    FocusRampColour(ramp, d, rgb);
    o[0] = level * rgb[0];
    o[1] = level * rgb[1];
    o[2] = level * rgb[2];
    o[3] = s[3];
  }
  return ramp;
}
