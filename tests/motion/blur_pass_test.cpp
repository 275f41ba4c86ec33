#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/prepared_frame.h"

using namespace testing_support;

namespace {
// The blur pass against the straightforward order (four copies per point,
// one thread) on small frames of every kind.
void ExpectSameAsReference(Image* img, const Controls& controls, int threads) {
  SetHostThreads(threads);
  PreparedFrame f(img, controls);
  img->Recycle();
  f.ClearAccumulation();
  f.BlurPass();
  f.ReferencePass();
  auto& d = f.tool->DepthBlur();
  double worst = 0;
  for (int y = 0; y < d.ColorAccum.height; ++y) {
    const auto* a = d.ColorAccum.channel_row("OutRGBA", y);
    const auto* b = f.ref_color.channel_row("OutRGBA", y);
    const float* na = d.WeightAccum.channel_row("Norm", y);
    const float* nb = f.ref_norm.channel_row("Norm", y);
    for (int x = 0; x < d.ColorAccum.width; ++x) {
      const double scale = 1e-5 * std::max(1.0, double(std::fabs(nb[x])));
      worst = std::max({worst, std::fabs(double(na[x]) - nb[x]) / scale, std::fabs(double(a[x].r) - b[x].r) / scale,
                        std::fabs(double(a[x].a) - b[x].a) / scale});
    }
  }
  EXPECT_LE(worst, 1.0) << "beyond float rounding";
  EXPECT_GT(f.taps, 0);
  SetHostThreads(0);
}
}  // namespace

TEST(BlurPass, EqualsTheStraightforwardOrderForEveryKindOfFrame) {
  const Controls depth{{"EnableDepth", 1}, {"FocusPosition", 0.4}, {"MaxBlurSize", 6}};
  for (int threads : {1, 3}) {
    ExpectSameAsReference(FlatScene(57, 41, 1, 0, 0), {}, threads);
    ExpectSameAsReference(FlatScene(57, 41, 1, 0, 0), {{"EnableDepth", 1}, {"MaxBlurSize", 12}}, threads);
    ExpectSameAsReference(FlatScene(57, 41, 1, 7.5f, -3.25f), {}, threads);
    ExpectSameAsReference(ShotScene(80, 45, 3, 25), depth, threads);
    ExpectSameAsReference(ShotScene(80, 45, 3, 25), {{"EdgeCondition", 2}, {"EnableDepth", 1}, {"FocusPosition", 0.4}},
                          threads);
    ExpectSameAsReference(FlatScene(64, 40, 1, 2.5f, 60), {{"EdgeCondition", 2}}, threads);
    ExpectSameAsReference(FlatScene(64, 40, 1, 1e9f, 3e8f), {}, threads);
    // One velocity everywhere: rows of points go through as runs, broken
    // where the mirror reflects them.
    for (double edges : {1, 2}) {
      ExpectSameAsReference(FlatScene(57, 41, 1, 30.5f, 6.25f), {{"EdgeCondition", edges}}, threads);
      ExpectSameAsReference(FlatScene(57, 41, 1, 30.5f, 6.25f),
                            {{"EdgeCondition", edges}, {"EnableDepth", 1}, {"MaxBlurSize", 12}}, threads);
      // Along y the points of a row of samples sit between columns.
      ExpectSameAsReference(FlatScene(57, 41, 1, 6.3f, -30.5f), {{"EdgeCondition", edges}}, threads);
      ExpectSameAsReference(FlatScene(57, 41, 1, -6.3f, 30.5f),
                            {{"EdgeCondition", edges}, {"EnableDepth", 1}, {"MaxBlurSize", 12}}, threads);
      ExpectSameAsReference(FlatScene(57, 41, 1, -1e9f, 1e9f), {{"EdgeCondition", edges}}, threads);
    }
  }
}
