#pragma once
#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>
#include <cfloat>
#include <cstdint>
#include <functional>
#include <vector>

#include "host/Image.h"
#include "host/Input.h"
#include "host/Operator.h"
#include "image/tessaly_image.h"
#include "dof/depth_to_blur.h"
#include "motion/blur_pass.h"
#include "motion/splat.h"
#include "plugin/filter_interface.h"
#include "process/pixel_sample.h"

// Depth-of-field controls, per-frame settings, the kernel bank, the
// accumulation images and the splat that adds into them.
class depth_blur_interface : public filter_interface {
 public:
  float KernelStep = 0.01f;
  float DepthCap = FLT_MAX / 2.0f;
  tessaly_image::image<tessaly_image::color_rgba_f> ColorAccum;
  tessaly_image::image<float> WeightAccum;
  std::vector<std::vector<float>> KernelBank;
  std::vector<boost::shared_ptr<boost::mutex>> row_locks;
  blur::BlurPass Pass;      // the blur pass of the frame in progress

  tessaly_image::color_rgba_f* ColorRow0 = nullptr;
  float* NormRow0 = nullptr;
  float FrameDepthChannel = 0, FrameSettingsType = 0, FrameInvertDepthMap = 0, FrameMaxBlurSize = 0;
  float FrameFocalLength = 0, FrameFocalLengthSquared = 0, FrameFStop = 0, FrameFilmbackWidth = 0;
  float FrameDepthMapType = 1, FrameDepthMapUnits = 0, FrameNearDistance = 1, FrameFarDistance = 2;
  float FrameNormalize = 0, FocusDistance = 0, BlurScale = 0, FrameMinWeight = 1;
  bool DepthEnabled = false;

  bool AdvancedSettings = false;
  bool NormalizedDepthMap = false;

  Input* InEnableDepth = nullptr;
  Input* InBlurChannel = nullptr;
  Input* InSettingsType = nullptr;
  Input* InFocusPosition = nullptr;
  Input* InInvertDepthMap = nullptr;
  Input* InMaxBlurSize = nullptr;
  Input* InFocalLength = nullptr;
  Input* InApertureDiameter = nullptr;
  Input* InFStop = nullptr;
  Input* InFilmbackWidth = nullptr;
  Input* InMinWeight = nullptr;
  Input* InDepthMapType = nullptr;
  Input* InDepthMapUnits = nullptr;
  Input* InNearDistance = nullptr;
  Input* InFarDistance = nullptr;
  Input* InNormalize = nullptr;
  Input* InDepthMap = nullptr;

  Image* DepthImage = nullptr;

  // Controls and their interplay.
  void CreateDepthControls(Operator* op);
  void DepthControlsChanged(Input* in, Parameter* param, TimeStamp time);
  void ShowDepthControls(bool v);

  // Per-frame settings and depth to blur size.
  void CaptureFrameSettings(Request* req, Image* input);
  float DepthToDistance(float value) const;
  // The members above as the engine's depth settings.
  dof::DepthSettings EngineDepth() const;
  int32_t SampleKernelIndex(float depth) const;

  // Kernel bank: the number of entries the frame's bank has, and its build.
  // With `wanted`, only the entries it marks are filled; the others stay
  // empty (no sample can reach them).
  int32_t KernelBankCount(int32_t width) const;
  void BuildKernelBank(Image* blur_image, int32_t width, const std::vector<uint8_t>* wanted = nullptr);

  // Blur pass.
  void resize_row_locks(int32_t rows);
  void splat_sample(const pixel_sample& q);
  void render_streak(const pixel_sample& p, bool mirror);
  splat::Target SplatTarget() const;
  // Readies the engine's pass over `samples` (before DoMultiProcess).
  void BeginBlurPass(const pixel_sample* samples, size_t count, bool mirror);
  // What the engine's pass reads: the frame's settings, bank, images, locks.
  blur::PassInputs PassInputsFor(const pixel_sample* samples, size_t count, bool mirror);
  // Adds what the chunks left in their bands into the accumulation images.
  void FinishBlurPass();

 private:
  void ApplySettingsRule(TimeStamp time);
};
