#pragma once
#include <cstdint>
#include <vector>

#include "host/Operator.h"
#include "host/Registry.h"
#include "plugin/depth_blur_interface.h"
#include "plugin/info_interface.h"
#include "process/frame_planes.h"
#include "process/frame_settings.h"
#include "process/pixel_sample.h"

// The Quorvex tool: motion blur and depth-of-field blur in one scatter pass.
class Quorvex : public ThreadedOperator, depth_blur_interface, public info_interface {
 public:
  Quorvex(Registry* reg, const ScriptVal& sv, const TagList& tags);
  ~Quorvex() override;

  void Process(Request* req) override;
  void NotifyChanged(Input* in, Parameter* param, TimeStamp time, TagList* tags) override;
  void ProcessChunk(Request* req, int32_t chunk) override;

  Input* InVelocityChannel = nullptr;
  Input* InNormalizedVelocity = nullptr;
  Input* InAntialiasedVelocity = nullptr;
  Input* InScaleVelocityLocked = nullptr;
  Input* InScaleVelocity = nullptr;
  Input* InScaleVelocityY = nullptr;
  Input* InAlphaPatcher = nullptr;
  Input* InEdgeCondition = nullptr;
  Input* InImage = nullptr;
  Input* InBlurImage = nullptr;
  Input* InMotionImage = nullptr;
  Output* OutImage = nullptr;

  Image* FrameInput = nullptr;
  Image* FrameOutput = nullptr;
  Image* FrameBlurImage = nullptr;

  LargeVector<pixel_sample> SampleList;
  bool ScaleLockState = false;
  float FrameVelocityChannel = 0.0f;
  float FrameEdgeCondition = 0.0f;

  // The depth-of-field part, for the host's tests and benchmarks.
  depth_blur_interface& DepthBlur() { return *this; }

  // Values Process reads for one frame and hands to the sample pass.
  struct FrameMotion {
    float alpha_patch = 0.0f;
    bool clamped_velocity = false;
    bool antialiased_velocity = false;
    float scale_x = 1.0f;
    float scale_y = -1.0f;
    int32_t divisor = 1;
    Image* velocity = nullptr;
  };
  // Returns how many samples had corrupt motion and were kept still.
  size_t RunSamplePass(const FrameMotion& m);
  // The engine's settings for the frame: the members above and `m`.
  FrameSettings EngineSettings(const FrameMotion& m) const;
  // Builds the bank entries that the frame's samples reach.
  void BuildBankForSamples();
  Image* ReducedKernelImage(Image* blur_image, int32_t largest_entry) const;
  // Each input pixel's blur diameter in pixels for the frame of `req` (the
  // kernel diameter its sample gets), into width x height floats.
  void FrameDiameters(Request* req, float* out);

 private:
  void CreateMotionControls();
  void CreateImageInputs();
  void ApplyScaleLock(Parameter* param, TimeStamp time);
  void Resolve(float alpha_patch, bool& cancelled);
};

// The engine's view of a host image's planes.
PlaneImage PlanesOf(const Image& img);
WritablePlanes WritablePlanesOf(Image& img);
