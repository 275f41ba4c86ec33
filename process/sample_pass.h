#pragma once
// The sample pass: every input pixel becomes the output's first version of
// that pixel and, unless empty, a pixel_sample (plus edge copies beyond the
// border for "Duplicate").
#include "image/aligned_memory.h"
#include "process/frame_planes.h"
#include "process/frame_settings.h"
#include "process/pixel_sample.h"

// A velocity whose streak would be longer than this many times the image's
// larger side is corrupt (no shot moves that far in one frame): its sample
// stays still, as one whose velocity is not a number does.
constexpr double kCorruptMotionSides = 64.0;

// `depth` and `velocity` have the input's size. `out` receives each input
// pixel with Z, VectX and VectY set to the decoded values; `samples` gets the
// frame's samples appended in creation order. Returns how many samples had
// corrupt motion (too long or not a number) and were kept still.
size_t RunSamplePass(const FrameSettings& s, const PlaneImage& input, const PlaneImage& depth,
                   const PlaneImage& velocity, WritablePlanes& out, LargeVector<pixel_sample>& samples);
