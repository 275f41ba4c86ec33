#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dof/area_average.h"
#include "tests/support/tool_test.h"

using namespace testing_support;

namespace {
class Bank : public ToolTest {
 protected:
  depth_blur_interface* d = &q->DepthBlur();
};
}  // namespace

TEST_F(Bank, SideLengthsFollowTheDiameter) {
  d->DepthEnabled = true;
  d->BlurScale = 5.01f;
  d->BuildKernelBank(nullptr, 1920);
  ASSERT_EQ(d->KernelBank.size(), 502u);
  EXPECT_EQ(d->KernelBank[0], std::vector<float>{1.0f});
  EXPECT_EQ(d->KernelBank[1].size(), 9u);
  EXPECT_EQ(d->KernelBank[300].size(), 9u);
  EXPECT_EQ(d->KernelBank[301].size(), 25u);
  EXPECT_EQ(d->KernelBank[500].size(), 25u);
  EXPECT_EQ(d->KernelBank[501].size(), 49u);
}

TEST_F(Bank, DegenerateScalesLeaveTheOnePixelKernel) {
  d->DepthEnabled = false;
  d->BlurScale = 100;
  d->BuildKernelBank(nullptr, 1920);
  EXPECT_EQ(d->KernelBank.size(), 1u);
  d->DepthEnabled = true;
  for (float s : {0.005f, -3.0f, std::numeric_limits<float>::quiet_NaN()}) {
    d->BlurScale = s;
    d->BuildKernelBank(nullptr, 1920);
    EXPECT_EQ(d->KernelBank.size(), 1u) << s;
  }
  d->BlurScale = d->KernelStep;
  d->BuildKernelBank(nullptr, 1920);
  EXPECT_EQ(d->KernelBank.size(), 2u);
  d->BlurScale = std::numeric_limits<float>::infinity();
  EXPECT_EQ(d->KernelBankCount(100), 2501) << "a quarter of the width at most";
  d->BlurScale = 19.2f;
  EXPECT_EQ(d->KernelBankCount(1920), 1921);
}

TEST_F(Bank, OnlyWantedEntriesAreBuiltAndTheyEqualTheFullBank) {
  d->DepthEnabled = true;
  d->BlurScale = 4.0f;
  d->BuildKernelBank(nullptr, 1920);
  const auto full = d->KernelBank;
  std::vector<uint8_t> wanted(full.size(), 0);
  wanted[0] = wanted[7] = wanted[400] = 1;
  d->BuildKernelBank(nullptr, 1920, &wanted);
  ASSERT_EQ(d->KernelBank.size(), full.size());
  EXPECT_EQ(d->KernelBank[7], full[7]);
  EXPECT_EQ(d->KernelBank[400], full[400]);
  EXPECT_TRUE(d->KernelBank[8].empty());
}

TEST_F(Bank, BlurImageEntriesLeakNoKernelImages) {
  Held blur(Flat(4, 2, FltPixel{1, 0, 0, 1}));
  d->DepthEnabled = true;
  d->BlurScale = 0.5f;
  const int64_t before = RefObject::LiveObjects();
  d->BuildKernelBank(blur.get(), 64);
  EXPECT_EQ(RefObject::LiveObjects(), before);
  ASSERT_EQ(d->KernelBank.size(), 51u);
  EXPECT_EQ(d->KernelBank[50].size(), 9u);
  EXPECT_NEAR(d->KernelBank[50][4], 1.0f / 9.0f, 1e-6) << "a flat red image gives a flat kernel";
}

// Area averaging: every output pixel the mean of the source area it covers.
TEST(AreaAverage, MeansOfTheCoveredArea) {
  struct Case {
    std::vector<float> src;
    int sw, sh, dw, dh;
    std::vector<float> want;
  };
  const Case cases[] = {
      {{1, 3, 5, 7, 9, 11}, 6, 1, 3, 1, {2, 6, 10}},           // pairs
      {{0, 3, 6}, 3, 1, 2, 1, {1, 5}},                         // a pixel cut in half: (0 + 3 / 2) / 1.5
      {{1, 2, 3, 4}, 2, 2, 1, 1, {2.5f}},                      // both axes
      {{2, 2, 2, 2, 2, 2, 2}, 1, 7, 1, 3, {2, 2, 2}},          // a flat picture stays flat
  };
  for (const Case& c : cases) {
    std::vector<float> got(size_t(c.dw) * size_t(c.dh));
    dof::AreaAverage(c.src.data(), c.sw, c.sh, got.data(), c.dw, c.dh);
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.want[i], 1e-6f) << c.sw << "x" << c.sh << " " << i;
  }
}

// A kernel image far larger than the frame's largest kernel is reduced to
// four times that kernel's side first; one within that size is used as it is.
TEST_F(Bank, OversizedBlurImagesAreReducedFirst) {
  d->KernelStep = 0.01f;
  Held tall(MakeImage(1, 2000, [](int, int y) { return FltPixel{float(y % 2), 0, 0, 1}; }));
  Held reduced(q->ReducedKernelImage(tall.get(), 500));  // diameter 5: side 5, limit 20
  ASSERT_TRUE(reduced);
  EXPECT_EQ(reduced->Width, 1);
  EXPECT_EQ(reduced->Height, 20);
  EXPECT_NEAR(reduced->Plane(CHAN_RED)[7], 0.5f, 1e-6f);
  Held small(Flat(20, 20, FltPixel{1, 0, 0, 1}));
  EXPECT_EQ(q->ReducedKernelImage(small.get(), 500), nullptr);
}
