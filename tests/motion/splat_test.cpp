#include <gtest/gtest.h>

#include <thread>

#include "tests/support/tool_fixture.h"

using namespace testing_support;

namespace {
class Splat : public ::testing::Test {
 protected:
  void SetUp() override {
    q = f.Create(&c.doc);
    d = &q->DepthBlur();
  }
  void TearDown() override { q->Recycle(); }
  // Prepares a W x H frame with depth off (or a bank up to `scale`).
  void Frame(int W, int H, float scale = 0) {
    d->ColorAccum.resize(W, H);
    d->WeightAccum.resize(W, H);
    d->ColorAccum.add_channel("OutRGBA");
    d->WeightAccum.add_channel("Norm");
    d->ColorRow0 = d->ColorAccum.channel_row("OutRGBA", 0);
    d->NormRow0 = d->WeightAccum.channel_row("Norm", 0);
    d->resize_row_locks(H);
    d->DepthEnabled = scale > 0;
    d->BlurScale = scale;
    d->FocusDistance = 1000;
    d->BuildKernelBank(nullptr, W);
  }
  float Norm(int x, int y) { return d->WeightAccum.channel_row("Norm", y)[x]; }
  tessaly_image::color_rgba_f Color(int x, int y) { return d->ColorAccum.channel_row("OutRGBA", y)[x]; }
  double NormSum() {
    double s = 0;
    for (int y = 0; y < d->WeightAccum.height; ++y)
      for (int x = 0; x < d->WeightAccum.width; ++x) s += Norm(x, y);
    return s;
  }
  pixel_sample S(float x, float y, float depth = 1000) {
    pixel_sample s;
    s.x = x;
    s.y = y;
    s.color = {0.5f, 1.0f, 2.0f, 1.0f};
    s.depth = depth;
    return s;
  }
  ToolFactory f;
  Console c;
  Quorvex* q;
  depth_blur_interface* d;
};
}  // namespace

TEST_F(Splat, BilinearFootprintOfAQuarterPoint) {
  Frame(6, 6);
  d->splat_sample(S(2.25f, 3.5f));
  EXPECT_EQ(Norm(2, 3), 0.375f);
  EXPECT_EQ(Norm(3, 3), 0.125f);
  EXPECT_EQ(Norm(2, 4), 0.375f);
  EXPECT_EQ(Norm(3, 4), 0.125f);
  EXPECT_EQ(Color(3, 4).b, 0.25f);
  EXPECT_EQ(Color(2, 3).g, 0.375f);
  EXPECT_DOUBLE_EQ(NormSum(), 1.0);
}

TEST_F(Splat, IntegerPointsTouchOnePixel) {
  Frame(4, 4);
  d->splat_sample(S(1, 2));
  EXPECT_EQ(Norm(1, 2), 1.0f);
  EXPECT_DOUBLE_EQ(NormSum(), 1.0);
}

TEST_F(Splat, KernelWeightsSumToTheSampleWeightInsideAndAreClippedAtBorders) {
  Frame(40, 40, 8.0f);  // bank up to 8 pixels of blur
  pixel_sample s = S(20.3f, 19.6f, 2000);  // blur 4 pixels -> side 5
  s.weight = 0.7f;
  d->splat_sample(s);
  EXPECT_NEAR(NormSum(), 0.7, 1e-6);
  Frame(40, 40, 8.0f);
  d->splat_sample(S(-1, 10, 2000));  // edge copy one pixel out, h = 2
  EXPECT_GT(Norm(0, 10), 0.0f);
  EXPECT_GT(Norm(1, 10), 0.0f);
  EXPECT_EQ(Norm(2, 10), 0.0f);
  EXPECT_LT(NormSum(), 0.5) << "taps outside are dropped, not renormalised";
}

TEST_F(Splat, PointsOutsideOrNotFiniteAddNothing) {
  Frame(5, 5);
  d->splat_sample(S(-3, 2));
  d->splat_sample(S(2, 9));
  d->splat_sample(S(std::numeric_limits<float>::quiet_NaN(), 1));
  d->splat_sample(S(std::numeric_limits<float>::infinity(), 1));
  d->splat_sample(S(3e9f, 1));
  EXPECT_EQ(NormSum(), 0.0);
}

TEST_F(Splat, TwoThreadsAddingToOnePixelLoseNothing) {
  Frame(3, 3);
  auto work = [&] {
    for (int i = 0; i < 100000; ++i) d->splat_sample(S(1, 1));
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(Norm(1, 1), 200000.0f);
  EXPECT_EQ(Color(1, 1).b, 400000.0f);
}
