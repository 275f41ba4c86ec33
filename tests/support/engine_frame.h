#pragma once
// A frame run through the engine alone, with no host: a scene's planes,
// the engine's sample pass and kernel bank, its blur pass driven chunk by
// chunk the way a host does, and the straightforward pass summed in double.
#include <functional>
#include <vector>

#include "dof/kernel_bank.h"
#include "image/aligned_memory.h"
#include "image/tessaly_image.h"
#include "motion/blur_pass.h"
#include "process/frame_planes.h"
#include "process/frame_settings.h"

namespace testing_support {

struct EngineFrame {
  // "Simple" settings: depth values from 0 (1 mm) to 1 (2 mm), the focus at
  // `focus`, the largest blur `max_blur_percent` of the width (depth on when
  // above 0).
  EngineFrame(int w, int h, const std::function<PixelChannels(int, int)>& scene, EdgeCondition edges,
              double max_blur_percent = 0, float focus = 0);

  // The blur pass with chunks taken in order by `threads` threads (the
  // calling one among them).
  // Through `kept` when given (a pass kept from frame to frame).
  void BlurPass(int threads, blur::BlurPass* kept = nullptr);
  int32_t max_walked_tap_side = blur::kMaxWalkedTapSide;  // see PassInputs
  size_t queued_span_bytes = blur::kQueuedSpanBytes;     // see PassInputs
  // The straightforward order: four copies per point, sums in double.
  void ReferencePass();

  int width, height;
  FrameSettings settings;
  LargeVector<pixel_sample> samples;
  dof::KernelBank bank;
  tessaly_image::image<tessaly_image::color_rgba_f> color;
  tessaly_image::image<float> norm;
  blur::RowLocks locks;
  std::vector<double> ref[5];  // red, green, blue, alpha, weight
};

// Under emulation (QUORVEX_TEST_EMULATED=1, the arm64 run under qemu-user,
// where floating point is slow and threads do not start): frames a few rows
// high and the pass on the calling thread.
bool Emulated();

// Test pictures: a texture with one depth and velocity everywhere, and a
// shot-like frame (objects at several distances moving between `lo` and
// `hi` pixels over a still background).
std::function<PixelChannels(int, int)> FlatPicture(float depth, float vx, float vy);
std::function<PixelChannels(int, int)> ShotPicture(int w, int h, float lo, float hi);

}  // namespace testing_support
