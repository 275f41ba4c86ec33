#pragma once
#include "host/Image.h"

// The depth value chosen by the "Depth Channel" control: Z, red, green, blue
// or alpha (0 to 4).
inline float DecodeDepth(const FltPixel& p, float channel) {
  if (channel > 3.5f) return p.A;
  if (channel > 2.5f) return p.B;
  if (channel > 1.5f) return p.G;
  if (channel > 0.5f) return p.R;
  return p.Z;
}

// The velocity pair chosen by the "Velocity X/Y Channel" control.
inline void DecodeVelocity(const FltPixel& p, float channel, float& vx, float& vy) {
  if (channel > 1.5f) {
    vx = p.G;
    vy = p.B;
  } else if (channel > 0.5f) {
    vx = p.R;
    vy = p.G;
  } else {
    vx = p.VectX;
    vy = p.VectY;
  }
}
