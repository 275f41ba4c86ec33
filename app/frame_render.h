#pragma once
// One frame of a tool from host images, for hosts that hold their images in
// memory (the Python module) rather than in files.
#include "host/Operator.h"

// The images of the tool's four image inputs; null leaves an input unconnected
// (the tool then reads depth and vectors from the input image itself).
struct FrameInputs {
  Image* input = nullptr;
  Image* motion = nullptr;
  Image* depth = nullptr;
  Image* blur = nullptr;
};

// Connects the images, runs the tool's Process for the frame and disconnects
// them again. Returns the "Output" image, which the caller gives back with
// Recycle(), or null when the tool reported an error on its console.
Image* RenderFrame(Operator& op, const FrameInputs& images, double frame);
