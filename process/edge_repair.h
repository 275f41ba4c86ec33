#pragma once
#include "process/frame_planes.h"

// The images and channel choices the edge velocity repair samples.
struct EdgeRepairSource {
  const PlaneImage* input;
  const PlaneImage* velocity;
  const PlaneImage* depth;
  float velocity_channel;
  float depth_channel;
};

// Replaces the velocity and depth value of a partly transparent pixel by the
// medians of those of its more opaque neighbours in a 5 x 5 window, lowering
// the opacity threshold from 1 by halves while none qualifies. Returns false
// (values unchanged) when no neighbour is at least 0.0625 opaque.
bool RepairEdgeVelocity(const EdgeRepairSource& src, int col, int row, float& vx, float& vy, float& depth);
