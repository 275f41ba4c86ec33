#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "process/resolve_pass.h"
#include "tests/support/tool_test.h"

using namespace testing_support;

namespace {
class Pipeline : public ToolTest {
 protected:
  void SetUp() override { Set(*q, "AlphaPatcher", 0); }
  void TearDown() override {
    q->Recycle();
    q = nullptr;
    EXPECT_EQ(RefObject::LiveObjects(), live_before) << "host objects leaked";
  }
  Held Run(Image* in, Image* vel = nullptr, Image* depth = nullptr, Image* blur = nullptr) {
    return Held(Render(*q, in, vel, depth, blur));
  }
  static FltPixel At(const Held& img, int x, int y) {
    FltPixel p;
    img->GetPixel(x, y, p);
    return p;
  }
  static std::vector<float> Row(const Held& img, int y, float FltPixel::*ch) {
    std::vector<float> v;
    for (int x = 0; x < img->Width; ++x) v.push_back(At(img, x, y).*ch);
    return v;
  }
};
}  // namespace

// Opaque still pixels come out as they went in; empty ones make no sample
// but keep their depth and vectors, and the pass is timed either way.
TEST_F(Pipeline, StillPixelsPassThroughAndEmptyOnesKeepTheirOtherChannels) {
  Held in(MakeImage(4, 3, [](int x, int y) { return Px(0.1f * x, 0.2f * y, 0.3f, 1, 5, 0, 0); }));
  Held out = Run(in.get());
  ASSERT_TRUE(out);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      const FltPixel a = At(in, x, y), b = At(out, x, y);
      EXPECT_EQ(std::tie(a.R, a.G, a.A), std::tie(b.R, b.G, b.A));
      EXPECT_EQ(b.Z, 5.0f);
    }
  EXPECT_EQ(c.Text(CON_Info).rfind("Lumora Quorvex processing time: ", 0), 0u);
  c.lines.clear();
  Held empty(Flat(3, 2, Px(0, 0, 0, 0, 4, 1, 2)));
  out = Run(empty.get());
  ASSERT_TRUE(out);
  EXPECT_EQ(Row(out, 1, &FltPixel::A), (std::vector<float>{0, 0, 0}));
  EXPECT_EQ(Row(out, 1, &FltPixel::Z), (std::vector<float>{4, 4, 4}));
  EXPECT_EQ(Row(out, 0, &FltPixel::VectY), (std::vector<float>{2, 2, 2}));
  EXPECT_EQ(c.Text(CON_Info).rfind("Lumora Quorvex processing time: ", 0), 0u);
}

TEST_F(Pipeline, ResolveNormalisesPatchesAndCapsAlpha) {
  // One pixel, weight 1, alpha 0.5: colour accumulates 0.5 * colour.
  Held in(Flat(1, 1, Px(0.8f, 0.4f, 0.2f, 0.5f)));
  Set(*q, "AlphaPatcher", 0.1);
  Set(*q, "EdgeCondition", 1);
  FltPixel p = At(Run(in.get()), 0, 0);
  const float patch = float(0.1) + 1.0f;
  EXPECT_EQ(p.A, 0.5f * patch);
  EXPECT_EQ(p.R, 0.8f * patch);
  Set(*q, "AlphaPatcher", 1.5);  // alpha 1.25 after the patch: capped at 1
  p = At(Run(in.get()), 0, 0);
  EXPECT_EQ(p.A, 1.0f);
  EXPECT_FLOAT_EQ(p.R, 0.8f * 2.5f / 1.25f);
}

TEST_F(Pipeline, NormalisationDividesByTheAccumulatedWeight) {
  Held in(Flat(3, 1, Px(0.3f, 0.3f, 0.3f, 1)));
  Set(*q, "EnableDepth", 1);
  Set(*q, "MinWeight", 0.1);  // weight 0.3
  Set(*q, "EdgeCondition", 1);
  EXPECT_FLOAT_EQ(At(Run(in.get()), 1, 0).R, 0.09f) << "colour times weight without normalisation";
  Set(*q, "Normalize", 1);
  const FltPixel p = At(Run(in.get()), 1, 0);
  EXPECT_FLOAT_EQ(p.R, 0.3f);
  EXPECT_FLOAT_EQ(p.A, 1.0f);
}

// A frame that cannot render sets no output, prints one error and never
// reaches the blur pass.
TEST_F(Pipeline, FramesThatCannotRenderFailWithOneClearMessage) {
  struct Case {
    const char* what;
    Held in, vel, depth, blur;
    std::string error;  // the message's start
  };
  Case cases[] = {
      {"a velocity image of another size", Held(Flat(4, 4, Px(1, 1, 1, 1))), Held(Flat(4, 3, Px(0, 0, 0, 0))), nullptr,
       nullptr, "Input and velocity image dimensions are not the same.\n"},
      {"a depth map of another size", Held(Flat(6, 4, FltPixel{})), nullptr, Held(Flat(6, 5, FltPixel{})), nullptr,
       "Input and depth image dimensions are not the same.\n"},
      {"an empty input", Held(new Image(0, 3)), nullptr, nullptr, nullptr, "The input image is empty (zero width or height)"},
      {"a blur image without red", Held(Flat(8, 8, Px(1, 1, 1, 1, 5))), nullptr, nullptr, Held(Flat(3, 3, Px(0, 1, 1, 1))),
       "The blur image's red channel has no usable weight"},
  };
  for (Case& k : cases) {
    SCOPED_TRACE(k.what);
    c.lines.clear();
    Set(*q, "EnableDepth", k.blur ? 1 : 0);
    Set(*q, "FocusPosition", k.blur ? 1 : 0);
    EXPECT_FALSE(Run(k.in.get(), k.vel.get(), k.depth.get(), k.blur.get()));
    const std::string error = c.Text(CON_Error);
    EXPECT_EQ(error.rfind("Quorvex error: " + k.error, 0), 0u) << error;
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
    EXPECT_EQ(c.Text(CON_Info), "") << "no blur pass ran";
  }
}

// A cancel before the pass prints nothing; one raised while the pass reports
// its time (as a user's cancel during it would be seen) leaves that line only.
TEST_F(Pipeline, ACancelSetsNoOutput) {
  Held in(Flat(4, 4, Px(1, 1, 1, 1)));
  q->Abort = 1;
  EXPECT_FALSE(Run(in.get()));
  EXPECT_TRUE(c.lines.empty());
  q->Abort = 0;
  c.doc.SetSink([&](int kind, const std::string& text) {
    c.lines.emplace_back(kind, text);
    q->Abort = 1;
  });
  EXPECT_FALSE(Run(in.get()));
  ASSERT_EQ(c.lines.size(), 1u);
  EXPECT_EQ(c.lines[0].first, CON_Info);
}

TEST_F(Pipeline, EdgeModesOnFlatPicturesInMotion) {
  Held sideways(Flat(12, 3, Px(0.5f, 0.5f, 0.5f, 0.5f, 0, 4, 0)));
  Set(*q, "AntialiasedVelocity", 1);  // no repair: every pixel is partly transparent
  for (int edges : {0, 2}) {          // Duplicate, Mirror: flat stays flat
    Set(*q, "EdgeCondition", edges);
    Held out = Run(sideways.get());
    for (int y = 0; y < 3; ++y)
      for (float v : Row(out, y, &FltPixel::R)) EXPECT_FLOAT_EQ(v, 0.5f) << "edges " << edges << ", row " << y;
  }
  Set(*q, "EdgeCondition", 1);  // Black
  const std::vector<float> row = Row(Run(sideways.get()), 1, &FltPixel::R);
  EXPECT_LT(row[0], row[1]);
  EXPECT_FLOAT_EQ(row[6], 0.5f);
  // Duplicate keeps the corner columns flat under vertical motion too.
  Set(*q, "AntialiasedVelocity", 0);
  Set(*q, "EdgeCondition", 0);
  Held down(Flat(5, 9, Px(0.5f, 0.5f, 0.5f, 1, 0, 0, 6)));
  Held out = Run(down.get());
  for (int y = 0; y < 9; ++y) {
    EXPECT_FLOAT_EQ(At(out, 0, y).R, 0.5f) << y;
    EXPECT_FLOAT_EQ(At(out, 4, y).R, 0.5f) << y;
  }
}

TEST_F(Pipeline, OneOrManyThreadsGiveTheSameFrame) {
  Held in(MakeImage(61, 37, [](int x, int y) {
    return Px(std::fmod(x * 0.37f, 1.0f), std::fmod(y * 0.21f, 1.0f), 0.5f, 1, float(500 + 40 * ((x + y) % 9)),
              float((x * 7) % 19) - 9.0f, float((y * 5) % 13) - 6.0f);
  }));
  Set(*q, "EnableDepth", 1);
  Set(*q, "SettingsType", 1);
  Set(*q, "FocusPosition", 700);
  SetHostThreads(1);
  Held one = Run(in.get());
  SetHostThreads(4);
  Held many = Run(in.get());
  SetHostThreads(0);
  ASSERT_TRUE(one && many);
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 61; ++x) {
      const FltPixel a = At(one, x, y), b = At(many, x, y);
      EXPECT_NEAR(a.R, b.R, 1e-5f * std::max(1.0f, std::fabs(a.R)));
      EXPECT_NEAR(a.A, b.A, 1e-5f);
    }
}

// A Laplacian kernel's negative weights let a pixel's weights cancel; with
// normalisation on, such a pixel is not divided, so every value stays
// finite and within max|input| / kNegligibleWeight. Without the floor the
// division blew pixels up to tens of thousands.
TEST_F(Pipeline, NegativeKernelWeightsWithNormalisationStayBounded) {
  Held in(MakeImage(48, 32, [](int x, int y) {
    const float v = (x / 4 + y / 4) % 2 ? 1.0f : 0.05f;
    return Px(v, v * 0.5f, 0.2f, 1, float(x) / 47.0f);
  }));
  const std::pair<const char*, double> controls[] = {{"EnableDepth", 1},   {"BlurStyle", 4},     {"Normalize", 1},
                                                     {"MaxBlurSize", 25}, {"FocusPosition", 0}, {"EdgeCondition", 1}};
  for (auto& ctl : controls) Set(*q, ctl.first, ctl.second);
  Held out = Run(in.get());
  ASSERT_TRUE(out) << c.Text(CON_Error);
  float largest = 0;
  for (int y = 0; y < out->Height; ++y)
    for (float FltPixel::*ch : {&FltPixel::R, &FltPixel::G, &FltPixel::B, &FltPixel::A})
      for (float v : Row(out, y, ch)) {
        ASSERT_TRUE(std::isfinite(v));
        largest = std::max(largest, std::fabs(v));
      }
  EXPECT_LE(largest, 1.0f / kNegligibleWeight);
}
