#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/tool_test.h"

using namespace testing_support;

namespace {
class Depth : public ToolTest {
 protected:
  void Capture(int w = 1920, int h = 2) {
    Held in(Flat(w, h, FltPixel{}));
    q->FindInput("Input")->Connect(in.get());
    Request req(q, 0);
    d->CaptureFrameSettings(&req, in.get());
    q->FindInput("Input")->Connect(nullptr);
  }
  depth_blur_interface* d = &q->DepthBlur();
};
}  // namespace

TEST_F(Depth, SimpleModeReadsTheMapAsOneToTwoMillimetres) {
  Set(*q, "EnableDepth", 1);
  Set(*q, "FocusPosition", 0);
  Capture();
  EXPECT_FLOAT_EQ(d->BlurScale, 19.2f);
  EXPECT_FLOAT_EQ(d->FocusDistance, 1.0f);
  d->KernelBank.assign(2000, {});
  // The farthest value (1 -> 2 mm) gets half the blur scale.
  EXPECT_EQ(d->SampleKernelIndex(d->DepthToDistance(1.0f)), 960);
  Set(*q, "FocusPosition", 1);
  Set(*q, "NearDistance", 50);  // ignored in Simple
  Capture();
  d->KernelBank.assign(2000, {});
  EXPECT_EQ(d->SampleKernelIndex(d->DepthToDistance(0.0f)), 1920) << "the nearest gets all of it";
  Set(*q, "InvertDepthMap", 1);
  Capture();
  EXPECT_FLOAT_EQ(d->DepthToDistance(0.25f), 1.75f);
}

TEST_F(Depth, AdvancedNormalizedAndDistanceInEveryUnit) {
  Set(*q, "EnableDepth", 1);
  Set(*q, "SettingsType", 1);
  Set(*q, "DepthMapType", 1);
  Capture();
  EXPECT_FLOAT_EQ(d->DepthToDistance(0.5f), 650.0f);
  Set(*q, "InvertDepthMap", 1);
  Capture();
  EXPECT_FLOAT_EQ(d->DepthToDistance(0.25f), 825.0f);
  Set(*q, "DepthMapUnits", 1);
  Capture();
  EXPECT_FLOAT_EQ(d->DepthToDistance(0.25f), 825000.0f);
  Set(*q, "InvertDepthMap", 0);
  EXPECT_FLOAT_EQ((Capture(), d->DepthToDistance(0.5f)), 650000.0f);
  Set(*q, "DepthMapUnits", 0);
  Set(*q, "NearDistance", 1000);
  Set(*q, "FarDistance", 300);
  Capture();
  EXPECT_FLOAT_EQ(d->DepthToDistance(1.0f), 1700.0f) << "near above far still grows from near";

  Set(*q, "DepthMapType", 0);
  Set(*q, "DepthMapUnits", 1);
  Capture();
  EXPECT_FLOAT_EQ(d->DepthToDistance(2.5f), 2500.0f);
  EXPECT_FLOAT_EQ(d->DepthToDistance(-2.5f), 2500.0f);
  Set(*q, "DepthMapUnits", 2);
  Capture();
  EXPECT_EQ(d->DepthToDistance(1.0f), 25.4f);
  EXPECT_EQ(d->DepthToDistance(3.0f), 3.0f * 25.4f);
  Set(*q, "DepthMapUnits", 3);
  Capture();
  EXPECT_EQ(d->DepthToDistance(1.5f), float(1.5 * 12.0) * 25.4f);
  EXPECT_EQ(d->DepthToDistance(0.1f), float(double(0.1f) * 12.0) * 25.399999618530273f);
}

TEST_F(Depth, DefaultCameraBlurScaleAndKernelIndex) {
  Set(*q, "EnableDepth", 1);
  Set(*q, "SettingsType", 1);
  Set(*q, "FocusPosition", 1000);
  Capture();
  EXPECT_NEAR(d->BlurScale, 48.95f, 0.01f);
  EXPECT_EQ(d->BlurScale, (1920.0f * 1225.0f) / (965.0f * (24.896f * 2.0f)));
  EXPECT_EQ(d->KernelBankCount(1920), 4895);
  d->KernelBank.assign(4895, {});
  EXPECT_EQ(d->SampleKernelIndex(2000.0f), 2447);
  EXPECT_EQ(d->SampleKernelIndex(1000.0f), 0) << "at the focus distance";
  EXPECT_EQ(d->SampleKernelIndex(1000.1f), 0) << "blur below 0.01 pixel";
  EXPECT_EQ(d->SampleKernelIndex(0.0f), 4894) << "distance 0: blur taken as the scale, held to the bank";
  EXPECT_EQ(d->SampleKernelIndex(std::numeric_limits<float>::quiet_NaN()), 4894);
  EXPECT_EQ(d->SampleKernelIndex(1e30f), 4894);
  d->KernelBank.assign(100, {});
  EXPECT_EQ(d->SampleKernelIndex(2000.0f), 99) << "never beyond the bank";
}

TEST_F(Depth, DepthOffMeansIndexZeroAndNoNormalize) {
  Set(*q, "Normalize", 1);
  Capture();
  EXPECT_FALSE(d->DepthEnabled);
  EXPECT_EQ(d->FrameNormalize, 0.0f);
  EXPECT_EQ(d->BlurScale, d->KernelStep);
  EXPECT_EQ(d->SampleKernelIndex(5.0f), 0);
  EXPECT_EQ(d->KernelBankCount(1920), 1);
}

TEST_F(Depth, CaptureSizesAccumulationImagesAndRowLocks) {
  Capture(7, 5);
  EXPECT_EQ(d->ColorAccum.width, 7);
  EXPECT_EQ(d->WeightAccum.height, 5);
  EXPECT_EQ(d->row_locks.size(), 5u);
  EXPECT_EQ(d->ColorRow0, d->ColorAccum.channel_row("OutRGBA", 0));
  boost::mutex* first = d->row_locks[0].get();
  Capture(7, 8);
  EXPECT_EQ(d->row_locks.size(), 8u);
  EXPECT_EQ(d->row_locks[0].get(), first) << "existing rows keep their locks";
  EXPECT_NE(d->row_locks[7].get(), d->row_locks[6].get());
  Capture(7, 2);
  EXPECT_EQ(d->row_locks.size(), 2u);
}
