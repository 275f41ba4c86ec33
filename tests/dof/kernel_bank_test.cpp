#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/tool_fixture.h"

using namespace testing_support;

namespace {
class Bank : public ::testing::Test {
 protected:
  void SetUp() override { q = f.Create(&c.doc); d = &q->DepthBlur(); }
  void TearDown() override { q->Recycle(); }
  ToolFactory f;
  Console c;
  Quorvex* q;
  depth_blur_interface* d;
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
  Image* blur = Flat(4, 2, FltPixel{1, 0, 0, 1});
  d->DepthEnabled = true;
  d->BlurScale = 0.5f;
  const int64_t before = RefObject::LiveObjects();
  d->BuildKernelBank(blur, 64);
  EXPECT_EQ(RefObject::LiveObjects(), before);
  ASSERT_EQ(d->KernelBank.size(), 51u);
  EXPECT_EQ(d->KernelBank[50].size(), 9u);
  EXPECT_NEAR(d->KernelBank[50][4], 1.0f / 9.0f, 1e-6) << "a flat red image gives a flat kernel";
  blur->Recycle();
}
