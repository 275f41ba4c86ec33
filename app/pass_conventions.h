#pragma once
// Motion-vector and depth passes as renderers write them, turned into the
// tool's own convention (VectX pixels right, VectY pixels up, over the
// frame's shutter; Z a distance) before the tool reads them.
#include <string>

#include "app/image_io.h"

struct VectorConvention {
  std::string preset = "pixels";  // pixels, blender, forward, backward, ndc
  double scale = 1.0;             // shutter, or any factor
  bool flip_y = false;            // the source's y axis points down
};

struct DepthConvention {
  std::string mode = "distance";  // distance, inverse (the pass stores 1/z)
  double scale = 1.0;
};

// Names of the presets and modes, for the command line's checks.
bool IsVectorPreset(const std::string& name);
bool IsDepthMode(const std::string& name);

// Fills VectX and VectY of `img` (made from `file`) from the preset's
// channels. Throws UsageError naming the channels the preset needs when the
// file lacks them.
void ApplyVectorConvention(const FileImage& file, Image& img, ChannelPick& pick, const VectorConvention& c);

// Turns the Z channel into a distance.
void ApplyDepthConvention(Image& img, const DepthConvention& c);
