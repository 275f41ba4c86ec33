// Per-frame depth-of-field settings read from the controls, and the depth
// mapping answered by the engine with them.
#include <cmath>
#include <stdexcept>

#include "plugin/depth_blur_interface.h"
#include "plugin/number_utils.h"

namespace {
double Read(Input* in, Request* req) { return ParamValue(in->GetValue(req, 0)); }
}  // namespace

void depth_blur_interface::CaptureFrameSettings(Request* req, Image* input) {
  std::vector<std::vector<float>>().swap(KernelBank);

  DepthImage = static_cast<Image*>(InDepthMap->GetValue(req, 0));
  if (!DepthImage) DepthImage = input;
  if (DepthImage->Width != input->Width || DepthImage->Height != input->Height)
    throw std::runtime_error("Input and depth image dimensions are not the same.");

  DepthEnabled = Read(InEnableDepth, req) > 0.5;
  FrameDepthChannel = float(Read(InBlurChannel, req));
  FrameInvertDepthMap = float(Read(InInvertDepthMap, req));
  FrameMaxBlurSize = float(Read(InMaxBlurSize, req));
  FrameFocalLength = float(Read(InFocalLength, req));
  FrameFocalLengthSquared = FrameFocalLength * FrameFocalLength;
  FrameFStop = float(Read(InFStop, req));
  FrameFilmbackWidth = float(Read(InFilmbackWidth, req));
  FrameMinWeight = float(Read(InMinWeight, req));
  FrameSettingsType = float(Read(InSettingsType, req));
  const float focus = std::fabs(float(Read(InFocusPosition, req)));

  FrameNearDistance = 1.0f;
  FrameFarDistance = 2.0f;
  FrameDepthMapType = 1.0f;
  FrameDepthMapUnits = 0.0f;

  resize_row_locks(input->Height);

  const float width = float(input->Width);
  if (DepthEnabled && DepthControlsShown) {
    FrameNormalize = float(Read(InNormalize, req));
    if (FrameSettingsType > 0.5f) {
      FrameNearDistance = std::fabs(float(Read(InNearDistance, req)));
      FrameFarDistance = std::fabs(float(Read(InFarDistance, req)));
      FrameDepthMapType = float(Read(InDepthMapType, req));
      FrameDepthMapUnits = float(Read(InDepthMapUnits, req));
      FocusDistance = DepthToDistance(focus);
      BlurScale = (width * FrameFocalLengthSquared) /
                  ((FocusDistance - FrameFocalLength) * (FrameFilmbackWidth * FrameFStop));
    } else {
      FocusDistance = DepthToDistance(focus);
      BlurScale = width * FrameMaxBlurSize / 100.0f;
    }
  } else {
    FrameNormalize = 0.0f;
    FocusDistance = DepthToDistance(focus);
    BlurScale = KernelStep;
  }

  ColorAccum.resize(input->Width, input->Height);
  WeightAccum.resize(input->Width, input->Height);
  ColorAccum.add_channel("OutRGBA");
  WeightAccum.add_channel("Norm");
  ColorRow0 = ColorAccum.channel_row("OutRGBA", 0);
  NormRow0 = WeightAccum.channel_row("Norm", 0);

  ReferenceImage = input;
  BlurStyleIndex = TruncToInt32(Read(InBlurStyle, req));
  SideCount = TruncToInt32(Read(InPolygonSideCount, req));
  KernelAngleRadians = Read(InKernelAngle, req) * 0.017453292519943295;
  BadBokehAmount = Read(InBadBokeh, req);
}

dof::DepthSettings depth_blur_interface::EngineDepth() const {
  dof::DepthSettings m;
  m.enabled = DepthEnabled;
  m.focus_distance = FocusDistance;
  m.blur_scale = BlurScale;
  m.kernel_step = KernelStep;
  m.depth_cap = DepthCap;
  m.map_type = FrameDepthMapType > 0.5f ? dof::DepthMapType::Normalized : dof::DepthMapType::Distance;
  m.units = FrameDepthMapUnits > 2.5f   ? dof::DepthUnits::Foot
            : FrameDepthMapUnits > 1.5f ? dof::DepthUnits::Inch
            : FrameDepthMapUnits > 0.5f ? dof::DepthUnits::Metre
                                        : dof::DepthUnits::Millimetre;
  m.invert = FrameInvertDepthMap > 0.5f;
  m.near_distance = FrameNearDistance;
  m.far_distance = FrameFarDistance;
  return m;
}

float depth_blur_interface::DepthToDistance(float v) const { return dof::DepthToDistance(EngineDepth(), v); }

int32_t depth_blur_interface::SampleKernelIndex(float d) const {
  return dof::KernelIndex(EngineDepth(), int32_t(KernelBank.size()), d);
}
