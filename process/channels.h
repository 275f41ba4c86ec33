#pragma once
// Channel choices of the controls, decoded from a pixel of any type with
// the fields R, G, B, A, Z, VectX and VectY.

// The depth value chosen by the "Depth Channel" control: Z, red, green, blue
// or alpha (0 to 4).
template <class Pixel>
float DecodeDepth(const Pixel& p, float channel) {
  if (channel > 3.5f) return p.A;
  if (channel > 2.5f) return p.B;
  if (channel > 1.5f) return p.G;
  if (channel > 0.5f) return p.R;
  return p.Z;
}

// The velocity pair chosen by the "Velocity X/Y Channel" control.
template <class Pixel>
void DecodeVelocity(const Pixel& p, float channel, float& vx, float& vy) {
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
