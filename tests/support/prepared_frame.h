#pragma once
// A frame made ready for its blur pass, so that benchmarks time the pass
// alone, and the straightforward pass they compare it with.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/tool_fixture.h"

namespace testing_support {

using Controls = std::vector<std::pair<std::string, double>>;

struct PreparedFrame {
  PreparedFrame(Image* input, const Controls& controls);
  ~PreparedFrame();

  void ClearAccumulation();
  // The tool's pass through the host's worker threads (`span_kernels`
  // false: every kernel tap by tap, the route before span kernels).
  void BlurPass(bool span_kernels = true);
  void ReferencePass();       // one thread, four copies per point, sums in double
  // Kernel taps of the pass: the kernel area of every streak point.
  double taps = 0;
  size_t samples = 0;

  testing_support::Console console;
  testing_support::ToolFactory factory;
  Quorvex* tool = nullptr;
  Image* input = nullptr;
  std::unique_ptr<Request> request;
  bool mirror = false;
  // The reference pass's sums: red, green, blue, alpha and weight planes.
  std::vector<double> ref[5];
};

// Test pictures. Colour is a texture; depth and motion as described.
Image* FlatScene(int w, int h, float depth, float vx, float vy);
// A shot-like frame: objects at several distances (Z from 0 near to 1 far)
// moving between `min_motion` and `max_motion` pixels.
Image* ShotScene(int w, int h, float min_motion, float max_motion);
// Every pixel at one depth, moving about `motion` px along x and a quarter
// of it along y, no two neighbours alike: every streak is walked.
Image* ScatteredMotionScene(int w, int h, float depth, float motion);

// "MaxBlurSize" that gives every sample at depth value 1 (focus 0, Simple)
// a kernel of the given side.
double MaxBlurForSide(int side, int width);

}  // namespace testing_support
