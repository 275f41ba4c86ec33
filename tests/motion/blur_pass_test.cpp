#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/prepared_frame.h"
#include "tests/support/simd_levels.h"

using namespace testing_support;

namespace {

struct Frame {
  std::string name;
  int w, h;
  float depth, vx, vy;  // a flat scene; vx < -1e30 for the shot scene
  Controls controls;
};

// The blur pass against the straightforward order summed in double: every
// value within 1e-5 of its own magnitude plus 1e-7 of the frame's largest.
void ExpectSameAsReference(const Frame& fr, int threads) {
  SCOPED_TRACE(fr.name + ", " + std::to_string(threads) + " threads");
  SetHostThreads(threads);
  Image* img = fr.vx < -1e30f ? ShotScene(fr.w, fr.h, 3, 25) : FlatScene(fr.w, fr.h, fr.depth, fr.vx, fr.vy);
  PreparedFrame f(img, fr.controls);
  img->Recycle();
  f.ClearAccumulation();
  f.BlurPass();
  f.ReferencePass();
  auto& d = f.tool->DepthBlur();
  double largest = 0;
  for (const auto& plane : f.ref)
    for (double v : plane) largest = std::max(largest, std::fabs(v));
  size_t bad = 0;
  for (int y = 0; y < d.ColorAccum.height; ++y) {
    const auto* c = d.ColorAccum.channel_row("OutRGBA", y);
    const float* n = d.WeightAccum.channel_row("Norm", y);
    for (int x = 0; x < d.ColorAccum.width; ++x) {
      const size_t i = size_t(y) * size_t(fr.w) + size_t(x);
      const float got[5] = {c[x].r, c[x].g, c[x].b, c[x].a, n[x]};
      for (int k = 0; k < 5; ++k) {
        const double want = f.ref[k][i];
        if (!(std::fabs(got[k] - want) <= 1e-5 * std::fabs(want) + 1e-7 * largest) && bad++ < 5)
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") plane " << k << ": " << got[k] << " against " << want;
      }
    }
  }
  EXPECT_EQ(bad, 0u);
  EXPECT_GT(f.taps, 0);
  SetHostThreads(0);
}

std::vector<Frame> EveryKindOfFrame() {
  std::vector<Frame> frames;
  // Stills and alike runs, kernel half sides 0, 4, 5 and 12.
  for (int h : {0, 4, 5, 12}) {
    Controls depth;
    if (h > 0) depth = {{"EnableDepth", 1}, {"MaxBlurSize", MaxBlurForSide(2 * h + 1, 200)}};
    const std::string side = "half side " + std::to_string(h);
    frames.push_back({"stills, " + side, 200, 31, 1, 0, 0, depth});
    Controls black = depth;
    black.push_back({"EdgeCondition", 1});
    frames.push_back({"alike along x, " + side, 200, 31, 1, 17.5f, 0, black});
    Controls mirror = depth;
    mirror.push_back({"EdgeCondition", 2});
    frames.push_back({"alike along y, mirror, " + side, 200, 31, 1, 2.3f, -21.5f, mirror});
  }
  // Streaks along x, y and diagonals, with still and moving neighbours, in
  // every edge condition.
  const Controls dof{{"EnableDepth", 1}, {"FocusPosition", 0.4}, {"MaxBlurSize", 6}};
  for (double edges : {0, 1, 2}) {
    Controls c = dof;
    c.push_back({"EdgeCondition", edges});
    const std::string e = edges == 0 ? "duplicate" : edges == 1 ? "black" : "mirror";
    frames.push_back({"shot, " + e, 80, 45, 0, -1e31f, 0, c});
    frames.push_back({"diagonal, " + e, 57, 41, 1, 12.0f, -12.0f, c});
    frames.push_back({"steep, " + e, 57, 41, 1, 2.5f, 60.0f, {{"EdgeCondition", edges}}});
    frames.push_back({"corrupt, " + e, 64, 40, 1, 1e9f, 3e8f, {{"EdgeCondition", edges}}});
  }
  return frames;
}

class BlurPass : public AtEveryLevel {};

}  // namespace

TEST_P(BlurPass, EqualsTheStraightforwardOrderForEveryKindOfFrame) {
  for (const Frame& fr : EveryKindOfFrame()) ExpectSameAsReference(fr, fr.w > 100 ? 2 : 3);
}

// The same frame gives the same bits from run to run and at any thread
// count: the bands go into the images in chunk order.
TEST_P(BlurPass, RepeatsBitForBitAtAnyThreadCount) {
  auto render = [](int threads) {
    SetHostThreads(threads);
    Image* img = ShotScene(160, 90, 3, 40);
    PreparedFrame f(img, {{"EnableDepth", 1}, {"FocusPosition", 0.4}, {"MaxBlurSize", 4}});
    img->Recycle();
    f.ClearAccumulation();
    f.BlurPass();
    auto& d = f.tool->DepthBlur();
    std::vector<float> out;
    for (int y = 0; y < d.ColorAccum.height; ++y) {
      const float* c = &d.ColorAccum.channel_row("OutRGBA", y)->r;
      const float* n = d.WeightAccum.channel_row("Norm", y);
      out.insert(out.end(), c, c + 4 * d.ColorAccum.width);
      out.insert(out.end(), n, n + d.ColorAccum.width);
    }
    SetHostThreads(0);
    return out;
  };
  const std::vector<float> first = render(2);
  for (int threads : {2, 2, 1, 3}) {
    const std::vector<float> again = render(threads);
    ASSERT_EQ(again.size(), first.size());
    EXPECT_EQ(std::memcmp(again.data(), first.data(), first.size() * sizeof(float)), 0) << threads << " threads";
  }
}

QUORVEX_AT_EVERY_LEVEL(BlurPass);
