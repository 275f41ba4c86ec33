#include <gtest/gtest.h>

#include "tests/support/tool_test.h"

using namespace testing_support;

namespace {
class SamplePass : public ToolTest {
 protected:
  void TearDown() override {
    if (q->FrameOutput) q->FrameOutput->Recycle();
  }
  // Runs the sample pass over `in` (velocities from `vel`, or from `in`).
  const LargeVector<pixel_sample>& Run(const Held& held, Image* vel = nullptr, Quorvex::FrameMotion m = {}) {
    Image* in = held.get();
    q->FindInput("Input")->Connect(in);
    Request req(q, 0);
    q->FrameInput = in;
    q->DepthBlur().CaptureFrameSettings(&req, in);
    q->FrameVelocityChannel = float(q->FindInput("VelocityChannel")->ValueAt(0));
    q->FrameEdgeCondition = float(q->FindInput("EdgeCondition")->ValueAt(0));
    if (q->FrameOutput) q->FrameOutput->Recycle();
    q->FrameOutput = NewImage({{IMG_Like, static_cast<const void*>(in)}, {IMG_Channel, CHAN_Z},
                               {IMG_Channel, CHAN_VECTX}, {IMG_Channel, CHAN_VECTY}});
    m.velocity = vel ? vel : in;
    q->SampleList.clear();
    q->RunSamplePass(m);
    q->FindInput("Input")->Connect(nullptr);
    return q->SampleList;
  }
};
}  // namespace

TEST_F(SamplePass, EmptyPixelsMakeNoSampleUnlessNormalising) {
  Held in(MakeImage(3, 1, [](int x, int) { return x == 1 ? Px(0.2f, 0.2f, 0.2f, 1) : Px(0, 0, 0, 0); }));
  Set(*q, "EdgeCondition", 1);
  EXPECT_EQ(Run(in).size(), 1u);
  EXPECT_EQ(q->SampleList[0].x, 1.0f);
  Set(*q, "Normalize", 1);
  EXPECT_EQ(Run(in).size(), 1u) << "normalisation counts only with depth on";
  Set(*q, "EnableDepth", 1);
  EXPECT_EQ(Run(in).size(), 3u);
}

TEST_F(SamplePass, BrightnessWeightAndMinWeight) {
  Held in(MakeImage(3, 1, [](int x, int) {
    const float v[] = {0.1f, 0.6f, 1.5f};
    return Px(v[x], v[x], v[x], 1);
  }));
  Set(*q, "EdgeCondition", 1);
  ASSERT_EQ(Run(in).size(), 3u);
  for (const pixel_sample& s : q->SampleList) EXPECT_EQ(s.weight, 1.0f);
  Set(*q, "MinWeight", 0.2);
  auto& s = Run(in);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].weight, 0.2f);
  EXPECT_FLOAT_EQ(s[1].weight, 0.6f);
  EXPECT_EQ(s[2].weight, 1.0f);
  EXPECT_EQ(s[2].depth, 1.0f) << "depth off: distance 1";
}

TEST_F(SamplePass, VelocityRecentringAlphaDivisionScalesAndDivisor) {
  Held in(Flat(1, 1, Px(1, 1, 1, 0.5f, 0, 0.75f, 0.25f)));
  Set(*q, "EdgeCondition", 1);
  Set(*q, "NormalizedVelocity", 1);
  Set(*q, "AntialiasedVelocity", 1);
  Quorvex::FrameMotion m;
  m.clamped_velocity = true;
  m.antialiased_velocity = true;
  m.scale_x = 2;
  m.scale_y = -3;
  m.divisor = 2;
  auto& s = Run(in, nullptr, m);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_FLOAT_EQ(s[0].vx, (0.75f - 0.5f) / 0.5f * 2 / 2);
  EXPECT_FLOAT_EQ(s[0].vy, (0.25f - 0.5f) / 0.5f * -3 / 2);
  FltPixel out;
  q->FrameOutput->GetPixel(0, 0, out);
  EXPECT_EQ(out.VectX, 0.75f) << "the output keeps the raw decoded values";
  EXPECT_EQ(out.VectY, 0.25f);
}

TEST_F(SamplePass, ChannelChoicesForVelocityAndDepth) {
  Held in(Flat(1, 1, Px(0.1f, 0.2f, 0.3f, 1, 7, 8, 9)));
  Set(*q, "EdgeCondition", 1);
  Set(*q, "VelocityChannel", 2);  // Green/Blue
  Set(*q, "BlurChannel", 3);      // Blue
  Set(*q, "EnableDepth", 1);
  Set(*q, "SettingsType", 1);     // Distance, mm
  Quorvex::FrameMotion m;
  m.scale_y = 1;
  auto& s = Run(in, nullptr, m);
  EXPECT_FLOAT_EQ(s[0].vx, 0.2f);
  EXPECT_FLOAT_EQ(s[0].vy, 0.3f);
  EXPECT_FLOAT_EQ(s[0].depth, 0.3f);
  FltPixel out;
  q->FrameOutput->GetPixel(0, 0, out);
  EXPECT_FLOAT_EQ(out.Z, 0.3f);
}

TEST_F(SamplePass, DuplicateCopiesReachHalfTheVelocityBeyondTheBorder) {
  Held in(MakeImage(3, 3, [](int x, int y) { return Px(1, 1, 1, 1, 0, x == 0 && y == 1 ? 3.2f : 0, 0); }));
  auto& s = Run(in);
  // Pixel (0,1): its sample, then copies at -1 and -2; a still pixel at the
  // border adds none.
  std::vector<std::pair<float, float>> at_row1;
  for (auto& p : s)
    if (p.y == 1 && p.x <= 0) at_row1.emplace_back(p.x, p.vx);
  EXPECT_EQ(at_row1, (std::vector<std::pair<float, float>>{{0, 3.2f}, {-1, 3.2f}, {-2, 3.2f}}));
}

TEST_F(SamplePass, CornerPixelsFillTheBlockAndBothStrips) {
  Held in(Flat(1, 1, Px(1, 1, 1, 1, 0, 3, 1.5f)));  // cx = 2, cy = 1 (vy scaled by -1)
  auto& s = Run(in);
  std::vector<std::pair<float, float>> xy;
  for (auto& p : s) xy.emplace_back(p.x, p.y);
  EXPECT_EQ(xy, (std::vector<std::pair<float, float>>{
                    {0, 0}, {-1, -1}, {-2, -1}, {-1, 0}, {-2, 0}, {0, -1}}))
      << "the diagonal block, the strip beside the row, the strip beyond the column";
}

// Motion up to 64 times the image's larger side is honest: it keeps its
// streak, and its edge copies stop at the image's own size plus the kernel
// reach (3). Beyond that (or not a number) it is corrupt: the samples stay
// still and make no copies.
TEST_F(SamplePass, CorruptMotionStaysStillAndHonestMotionKeepsItsCopies) {
  struct Case {
    float vx;
    bool corrupt;
  };
  for (const Case c : {Case{250.0f, false}, Case{257.0f, true}, Case{1e9f, true}, Case{NAN, true}}) {
    auto& s = Run(Held(Flat(4, 3, Px(1, 1, 1, 1, 0, c.vx, 0))));
    EXPECT_EQ(s.size(), c.corrupt ? 12u : size_t(12 + 6 * (4 + 3))) << c.vx;
    EXPECT_EQ(s[0].vx, c.corrupt ? 0.0f : c.vx) << c.vx;
  }
}

TEST_F(SamplePass, PartlyTransparentPixelsTakeTheirNeighboursMedians) {
  Held in(MakeImage(3, 1, [](int x, int) {
    return x == 1 ? Px(0.5f, 0.5f, 0.5f, 0.5f, 0, 50, 0) : Px(1, 1, 1, 1, 0, float(2 + 4 * (x / 2)), 0);
  }));
  Set(*q, "EdgeCondition", 1);
  auto& s = Run(in);
  EXPECT_FLOAT_EQ(s[1].vx, 4.0f) << "median of 2 and 6";
  Set(*q, "AntialiasedVelocity", 1);
  Quorvex::FrameMotion m;
  m.antialiased_velocity = true;
  EXPECT_FLOAT_EQ(Run(in, nullptr, m)[1].vx, 100.0f) << "no repair; divided by alpha instead";
}
