// The tool's sample pass: the engine's pass over the host images' planes
// with the frame's settings.
#include "plugin/Quorvex.h"
#include "process/sample_pass.h"

namespace {
constexpr int kChannels[7] = {CHAN_RED, CHAN_GREEN, CHAN_BLUE, CHAN_ALPHA, CHAN_Z, CHAN_VECTX, CHAN_VECTY};
}  // namespace

PlaneImage PlanesOf(const Image& img) {
  PlaneImage p;
  p.width = img.Width;
  p.height = img.Height;
  for (int c = 0; c < 7; ++c) p.plane[c] = img.Plane(kChannels[c]);
  return p;
}

WritablePlanes WritablePlanesOf(Image& img) {
  WritablePlanes p;
  p.width = img.Width;
  p.height = img.Height;
  for (int c = 0; c < 7; ++c) p.plane[c] = img.Plane(kChannels[c]);
  return p;
}

FrameSettings Quorvex::EngineSettings(const FrameMotion& m) const {
  FrameSettings s;
  s.alpha_patch = m.alpha_patch;
  s.clamped_velocity = m.clamped_velocity;
  s.antialiased_velocity = m.antialiased_velocity;
  s.scale_x = m.scale_x;
  s.scale_y = m.scale_y;
  s.divisor = m.divisor;
  s.velocity_channel = FrameVelocityChannel;
  s.edges = EdgeConditionOf(FrameEdgeCondition);
  s.depth_channel = FrameDepthChannel;
  s.settings_type = FrameSettingsType > 0.5f ? SettingsType::Advanced : SettingsType::Simple;
  s.min_weight = FrameMinWeight;
  s.normalize = FrameNormalize > 0.5f;
  s.depth = EngineDepth();
  s.kernel = KernelShape();
  return s;
}

size_t Quorvex::RunSamplePass(const FrameMotion& m) {
  WritablePlanes out = WritablePlanesOf(*FrameOutput);
  return ::RunSamplePass(EngineSettings(m), PlanesOf(*FrameInput), PlanesOf(*DepthImage), PlanesOf(*m.velocity), out,
                  SampleList);
}
