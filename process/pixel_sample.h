#pragma once
#include "image/tessaly_image.h"

// One sample of the frame: a pixel's colour, brightness weight, distance and
// velocity, at its pixel position (outside the image for edge copies).
struct pixel_sample {
  float x = 0.0f;
  float y = 0.0f;
  tessaly_image::color_rgba_f color;
  float depth = 1.0f;
  float weight = 1.0f;
  float vx = 0.0f;
  float vy = 0.0f;
};
