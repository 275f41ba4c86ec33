#include <gtest/gtest.h>

#include <cmath>

#include "process/resolve_pass.h"
#include "tests/support/tool_fixture.h"

using namespace testing_support;

namespace {
FltPixel Px(float r, float g, float b, float a, float z = 0, float vx = 0, float vy = 0) {
  FltPixel p;
  p.R = r, p.G = g, p.B = b, p.A = a, p.Z = z, p.VectX = vx, p.VectY = vy;
  return p;
}

class Pipeline : public ::testing::Test {
 protected:
  void SetUp() override {
    live_ = RefObject::LiveObjects();
    q = f.Create(&c.doc);
    Set(*q, "AlphaPatcher", 0);
  }
  void TearDown() override {
    q->Recycle();
    EXPECT_EQ(RefObject::LiveObjects(), live_) << "host objects leaked";
  }
  std::vector<float> Row(Image* img, int y, float FltPixel::*ch) {
    std::vector<float> v;
    for (int x = 0; x < img->Width; ++x) {
      FltPixel p;
      img->GetPixel(x, y, p);
      v.push_back(p.*ch);
    }
    return v;
  }
  ToolFactory f;
  Console c;
  Quorvex* q;
  int64_t live_ = 0;
};
}  // namespace

TEST_F(Pipeline, StillOpaquePixelsPassThroughUnchanged) {
  Image* in = MakeImage(4, 3, [](int x, int y) { return Px(0.1f * x, 0.2f * y, 0.3f, 1, 5, 0, 0); });
  Image* out = Render(*q, in);
  ASSERT_NE(out, nullptr);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      FltPixel a, b;
      in->GetPixel(x, y, a);
      out->GetPixel(x, y, b);
      EXPECT_EQ(a.R, b.R);
      EXPECT_EQ(a.G, b.G);
      EXPECT_EQ(a.A, b.A);
      EXPECT_EQ(b.Z, 5.0f);
    }
  EXPECT_NE(c.Text(CON_Info).find("Lumora Quorvex processing time: "), std::string::npos);
  out->Recycle();
  in->Recycle();
}

TEST_F(Pipeline, ResolveNormalisesPatchesAndCapsAlpha) {
  // One pixel, weight 1, alpha 0.5: colour accumulates 0.5 * colour.
  Image* in = Flat(1, 1, Px(0.8f, 0.4f, 0.2f, 0.5f));
  Set(*q, "AlphaPatcher", 0.1);
  Set(*q, "EdgeCondition", 1);
  Image* out = Render(*q, in);
  FltPixel p;
  out->GetPixel(0, 0, p);
  const float patch = float(0.1) + 1.0f;
  EXPECT_EQ(p.A, 0.5f * patch);
  EXPECT_EQ(p.R, 0.8f * patch);
  out->Recycle();
  Set(*q, "AlphaPatcher", 1.5);  // alpha 1.25 after the patch: capped at 1
  out = Render(*q, in);
  out->GetPixel(0, 0, p);
  EXPECT_EQ(p.A, 1.0f);
  EXPECT_FLOAT_EQ(p.R, 0.8f * 2.5f / 1.25f);
  out->Recycle();
  in->Recycle();
}

TEST_F(Pipeline, NormalisationDividesByTheAccumulatedWeight) {
  Image* in = Flat(3, 1, Px(0.3f, 0.3f, 0.3f, 1));
  Set(*q, "EnableDepth", 1);
  Set(*q, "MinWeight", 0.1);  // weight 0.3
  Set(*q, "EdgeCondition", 1);
  Image* out = Render(*q, in);
  FltPixel p;
  out->GetPixel(1, 0, p);
  EXPECT_FLOAT_EQ(p.R, 0.09f) << "colour times weight without normalisation";
  out->Recycle();
  Set(*q, "Normalize", 1);
  out = Render(*q, in);
  out->GetPixel(1, 0, p);
  EXPECT_FLOAT_EQ(p.R, 0.3f);
  EXPECT_FLOAT_EQ(p.A, 1.0f);
  out->Recycle();
  in->Recycle();
}

TEST_F(Pipeline, NoSamplesStillTimesTheBlurPassAndKeepsOtherChannels) {
  Image* in = Flat(3, 2, Px(0, 0, 0, 0, 4, 1, 2));
  Image* out = Render(*q, in);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(Row(out, 1, &FltPixel::A), (std::vector<float>{0, 0, 0}));
  EXPECT_EQ(Row(out, 1, &FltPixel::Z), (std::vector<float>{4, 4, 4}));
  EXPECT_EQ(Row(out, 0, &FltPixel::VectY), (std::vector<float>{2, 2, 2}));
  EXPECT_EQ(c.Text(CON_Info).rfind("Lumora Quorvex processing time: ", 0), 0u);
  out->Recycle();
  in->Recycle();
}

TEST_F(Pipeline, AVelocityImageOfAnotherSizeFailsWithItsMessage) {
  Image* in = Flat(4, 4, Px(1, 1, 1, 1));
  Image* vel = Flat(4, 3, Px(0, 0, 0, 0));
  EXPECT_EQ(Render(*q, in, vel), nullptr);
  EXPECT_EQ(c.Text(CON_Error), "Quorvex error: Input and velocity image dimensions are not the same.\n");
  EXPECT_TRUE(q->SampleList.empty());
  in->Recycle();
  vel->Recycle();
}

TEST_F(Pipeline, EmptyInputsAndBadBlurImagesFailWithAClearMessage) {
  Image* empty = new Image(0, 3);
  EXPECT_EQ(Render(*q, empty), nullptr);
  EXPECT_NE(c.Text(CON_Error).find("zero width or height"), std::string::npos);
  empty->Recycle();
  c.lines.clear();
  Image* in = Flat(8, 8, Px(1, 1, 1, 1, 5));
  Image* blur = Flat(3, 3, Px(0, 1, 1, 1));
  Set(*q, "EnableDepth", 1);
  Set(*q, "FocusPosition", 1);
  EXPECT_EQ(Render(*q, in, nullptr, nullptr, blur), nullptr);
  EXPECT_EQ(c.Text(CON_Error).rfind("Quorvex error: The blur image's red channel has no usable weight", 0), 0u);
  in->Recycle();
  blur->Recycle();
}

TEST_F(Pipeline, CancelBeforeTheBlurPassSetsNothingAndPrintsNothing) {
  Image* in = Flat(4, 4, Px(1, 1, 1, 1));
  q->Abort = 1;
  EXPECT_EQ(Render(*q, in), nullptr);
  EXPECT_TRUE(c.lines.empty());
  in->Recycle();
}

TEST_F(Pipeline, CancelDuringTheBlurPassIsSeenAfterItsTimingLine) {
  Image* in = Flat(4, 4, Px(1, 1, 1, 1));
  // Raise the flag when the pass reports its time, as a user's cancel during it would be seen.
  c.doc.SetSink([&](int kind, const std::string& text) {
    c.lines.emplace_back(kind, text);
    q->Abort = 1;
  });
  EXPECT_EQ(Render(*q, in), nullptr);
  ASSERT_EQ(c.lines.size(), 1u);
  EXPECT_EQ(c.lines[0].first, CON_Info);
  in->Recycle();
}

TEST_F(Pipeline, EdgeModesOnAFlatPictureMovingSideways) {
  Image* in = Flat(12, 3, Px(0.5f, 0.5f, 0.5f, 0.5f, 0, 4, 0));
  Set(*q, "AntialiasedVelocity", 1);  // no repair: every pixel is partly transparent
  Set(*q, "EdgeCondition", 0);        // Duplicate
  Image* out = Render(*q, in);
  for (int y = 0; y < 3; ++y)
    for (float v : Row(out, y, &FltPixel::R)) EXPECT_FLOAT_EQ(v, 0.5f) << "row " << y;
  out->Recycle();
  Set(*q, "EdgeCondition", 2);  // Mirror
  out = Render(*q, in);
  for (float v : Row(out, 1, &FltPixel::R)) EXPECT_FLOAT_EQ(v, 0.5f);
  out->Recycle();
  Set(*q, "EdgeCondition", 1);  // Black
  out = Render(*q, in);
  auto row = Row(out, 1, &FltPixel::R);
  EXPECT_LT(row[0], row[1]);
  EXPECT_FLOAT_EQ(row[6], 0.5f);
  out->Recycle();
  in->Recycle();
}

TEST_F(Pipeline, DuplicateKeepsCornerColumnsFlatUnderVerticalMotion) {
  Image* in = Flat(5, 9, Px(0.5f, 0.5f, 0.5f, 1, 0, 0, 6));
  Image* out = Render(*q, in);
  for (int y = 0; y < 9; ++y) {
    FltPixel a, b;
    out->GetPixel(0, y, a);
    out->GetPixel(4, y, b);
    EXPECT_FLOAT_EQ(a.R, 0.5f) << y;
    EXPECT_FLOAT_EQ(b.R, 0.5f) << y;
  }
  out->Recycle();
  in->Recycle();
}

TEST_F(Pipeline, OneOrManyThreadsGiveTheSameFrame) {
  Image* in = MakeImage(61, 37, [](int x, int y) {
    return Px(std::fmod(x * 0.37f, 1.0f), std::fmod(y * 0.21f, 1.0f), 0.5f, 1, float(500 + 40 * ((x + y) % 9)),
              float((x * 7) % 19) - 9.0f, float((y * 5) % 13) - 6.0f);
  });
  Set(*q, "EnableDepth", 1);
  Set(*q, "SettingsType", 1);
  Set(*q, "FocusPosition", 700);
  SetHostThreads(1);
  Image* one = Render(*q, in);
  SetHostThreads(4);
  Image* many = Render(*q, in);
  SetHostThreads(0);
  ASSERT_TRUE(one && many);
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 61; ++x) {
      FltPixel a, b;
      one->GetPixel(x, y, a);
      many->GetPixel(x, y, b);
      EXPECT_NEAR(a.R, b.R, 1e-5f * std::max(1.0f, std::fabs(a.R)));
      EXPECT_NEAR(a.A, b.A, 1e-5f);
    }
  one->Recycle();
  many->Recycle();
  in->Recycle();
}

// A Laplacian kernel's negative weights let a pixel's weights cancel; with
// normalisation on, such a pixel is not divided, so every value stays
// finite and within max|input| / kNegligibleWeight. Without the floor the
// division blew pixels up to tens of thousands.
TEST_F(Pipeline, NegativeKernelWeightsWithNormalisationStayBounded) {
  Image* in = MakeImage(48, 32, [](int x, int y) {
    const float v = (x / 4 + y / 4) % 2 ? 1.0f : 0.05f;
    return Px(v, v * 0.5f, 0.2f, 1, float(x) / 47.0f);
  });
  const std::pair<const char*, double> controls[] = {{"EnableDepth", 1},   {"BlurStyle", 4},     {"Normalize", 1},
                                                     {"MaxBlurSize", 25}, {"FocusPosition", 0}, {"EdgeCondition", 1}};
  for (auto& ctl : controls) Set(*q, ctl.first, ctl.second);
  Image* out = Render(*q, in);
  ASSERT_NE(out, nullptr) << c.Text(CON_Error);
  float largest = 0;
  for (int y = 0; y < out->Height; ++y)
    for (float FltPixel::*ch : {&FltPixel::R, &FltPixel::G, &FltPixel::B, &FltPixel::A})
      for (float v : Row(out, y, ch)) {
        ASSERT_TRUE(std::isfinite(v));
        largest = std::max(largest, std::fabs(v));
      }
  EXPECT_LE(largest, 1.0f / kNegligibleWeight);
  out->Recycle();
  in->Recycle();
}
