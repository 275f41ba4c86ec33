#pragma once
// The focus view: a picture of where the blur is. Pixels whose blur diameter
// is below one pixel keep their own colours; every other pixel shows its
// luminance at half brightness, tinted along a fixed ramp from blue (a
// diameter of 1 pixel) through green to red (the frame's largest diameter).
#include <cstddef>

struct FocusRamp {
  float smallest = 1.0f;  // the blue end, in pixels
  float largest = 1.0f;   // the red end: the frame's largest diameter
};

// The ramp's colour at diameter d (blue at ramp.smallest, red at ramp.largest).
void FocusRampColour(const FocusRamp& ramp, float d, float rgb[3]);

// `source` and `out` hold `count` RGBA pixels (four floats each, alpha kept);
// `diameters` one blur diameter per pixel. Returns the ramp it used.
FocusRamp FocusViewPixels(const float* source, const float* diameters, size_t count, float* out);
