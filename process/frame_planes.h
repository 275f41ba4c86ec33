#pragma once
// How the engine sees an image: its planes of 32-bit floats, row-major, row
// 0 at the top. A channel the image lacks has no plane and reads as zero.
#include <cstddef>
#include <cstdint>

struct PixelChannels {
  float R = 0, G = 0, B = 0, A = 0;
  float Z = 0;
  float VectX = 0, VectY = 0;
};

struct PlaneImage {
  int32_t width = 0, height = 0;
  // red, green, blue, alpha, Z, VectX, VectY
  const float* plane[7] = {};

  PixelChannels At(int32_t x, int32_t y) const {
    const size_t i = size_t(y) * size_t(width) + size_t(x);
    auto get = [&](int c) { return plane[c] ? plane[c][i] : 0.0f; };
    return {get(0), get(1), get(2), get(3), get(4), get(5), get(6)};
  }
};

// The planes the engine writes: the output's colour and its Z, VectX and
// VectY (any of them may be absent).
struct WritablePlanes {
  int32_t width = 0, height = 0;
  float* plane[7] = {};
};
