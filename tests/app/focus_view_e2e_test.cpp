// --view focus and --write-blur-size: each pixel's blur diameter from the
// module, and the picture of where the blur is.
#include <cmath>

#include "tests/app/e2e_support.h"

using namespace e2e;

TEST_F(Render, TheFocusViewAndTheBlurChannelShowEachPixelsBlur) {
  Scene(P("in.exr"));  // depth 500 + 200 x mm across
  const std::vector<std::string> controls{"--set", "EnableDepth=on",     "--set", "SettingsType=Advanced",
                                          "--set", "FocusPosition=1500", "--set", "FocalLength=80",
                                          "--set", "FStop=1"};
  auto args = [&](std::vector<std::string> a) {
    a.insert(a.end(), controls.begin(), controls.end());
    return a;
  };
  Result r = RunRender(args({"-i", P("in.exr"), "-o", P("sizes.exr"), "--write-blur-size", "-q"}));
  ASSERT_EQ(r.status, 0) << r.output;
  const Read sizes = ReadExr(P("sizes.exr"));
  r = RunRender(args({"-i", P("in.exr"), "-o", P("focus.exr"), "--view", "focus", "--data-type", "float"}));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("focus view"), std::string::npos) << r.output;
  const Read focus = ReadExr(P("focus.exr"));
  const Read in = ReadExr(P("in.exr"));
  // Thin lens, 80 mm at f/1 focused at 1.5 m, 16 px over 24.896 mm: the
  // blur of the column at distance z, in the bank's 0.01 px steps (up to
  // 2.9 px, so that every kind of pixel below is there).
  const double scale = 16.0 * 80 * 80 / ((1500.0 - 80) * 24.896 * 1.0);
  float largest = 0;
  for (int x = 0; x < 16; ++x) {
    const double z = 500 + 200 * x, blur = std::min(std::fabs(z - 1500) * scale / z, scale);
    EXPECT_NEAR(sizes.At(x, 3, "blur"), std::floor(blur / 0.01) * 0.01, 0.011) << "column " << x;
    largest = std::max(largest, sizes.At(x, 3, "blur"));
  }
  int sharp = 0, red = 0, blue = 0;
  for (int x = 0; x < 16; ++x) {
    const float d = sizes.At(x, 3, "blur");
    if (d < 1.0f) {
      ++sharp;
      EXPECT_FLOAT_EQ(focus.At(x, 3, "R"), in.At(x, 3, "R")) << "sharp pixels keep their colours, column " << x;
    } else if (d == largest) {
      ++red;
      EXPECT_GT(focus.At(x, 3, "R"), 0.0f) << x;
      EXPECT_EQ(focus.At(x, 3, "G"), 0.0f) << "the largest blur is pure red, column " << x;
      EXPECT_EQ(focus.At(x, 3, "B"), 0.0f) << x;
    } else if (d < 1.2f) {
      ++blue;
      EXPECT_GT(focus.At(x, 3, "B"), focus.At(x, 3, "R")) << "about a pixel is blue, column " << x;
    }
  }
  EXPECT_TRUE(sharp && red && blue) << sharp << " sharp, " << red << " red, " << blue << " blue columns";
}
