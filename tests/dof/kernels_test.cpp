#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "dof/kernel_shapes.h"
#include "tests/support/tool_fixture.h"

using namespace testing_support;

namespace {
class Kernels : public ::testing::Test {
 protected:
  void SetUp() override { q = f.Create(&c.doc); k = &q->DepthBlur(); }
  void TearDown() override { q->Recycle(); }
  // The raw (unnormalised) values of a kernel image's red channel.
  std::vector<float> Raw(Image* img) {
    std::vector<float> v;
    for (int y = 0; y < img->Height; ++y)
      for (int x = 0; x < img->Width; ++x) {
        FltPixel p;
        img->GetPixel(x, y, p);
        v.push_back(p.R);
      }
    img->Recycle();
    return v;
  }
  ToolFactory f;
  Console c;
  Quorvex* q;
  filter_interface* k;
};
}  // namespace

TEST(KernelShapes, SideLengthIsTheSmallestOddNotBelowTheCeiling) {
  using kernel_shapes::SideLength;
  EXPECT_EQ(SideLength(0), 1);
  EXPECT_EQ(SideLength(0.01), 1);
  EXPECT_EQ(SideLength(3), 3);
  EXPECT_EQ(SideLength(3.01), 5);
  EXPECT_EQ(SideLength(4), 5);
  EXPECT_EQ(SideLength(5), 5);
  EXPECT_EQ(SideLength(6), 7);
}

TEST_F(Kernels, DiskThreeByThreeWithAndWithoutBadBokeh) {
  for (double b : {0.0, 1.0}) {
    k->BadBokehAmount = b;
    std::vector<float> v = Raw(k->CreateDiskKernel(3, 3));
    ASSERT_EQ(v.size(), 9u);
    EXPECT_FLOAT_EQ(v[4], 1.0f);
    EXPECT_FLOAT_EQ(v[1], float(1 + 4 * b));
    EXPECT_FLOAT_EQ(v[3], float(1 + 4 * b));
    EXPECT_FLOAT_EQ(v[0], float((2 - std::sqrt(2.0)) * (1 + 4 * b)));
  }
}

TEST_F(Kernels, SmallestDiskIsAlmostOnePixel) {
  std::vector<float> v = Raw(k->CreateDiskKernel(0.01, 3));
  const double R = double(1e-4f);
  EXPECT_FLOAT_EQ(v[4], 1.0f);
  EXPECT_FLOAT_EQ(v[1], float((R + 1 - 1) * 1.0));
  EXPECT_EQ(v[0], 0.0f);
}

TEST_F(Kernels, PolygonAtAngleZeroHasASideTowardsIncreasingColumns) {
  k->SideCount = 6;
  k->KernelAngleRadians = 0;
  std::vector<float> v = Raw(k->CreatePolygonKernel(21, 3));
  const int n = 21, c = 10;
  auto at = [&](int dx, int dy) { return v[size_t((c + dy) * n + (c + dx))]; };
  // Along +x the edge (apothem cos(30deg) * R = 8.66) is nearer than along +y,
  // where a corner points at 60 degrees... the column direction ends sooner.
  EXPECT_GT(at(0, 9), 0.0f) << "towards a corner the shape reaches farther";
  EXPECT_LT(at(9, 0), at(0, 9));
  EXPECT_FLOAT_EQ(at(8, 0), 1.0f);
  EXPECT_EQ(at(10, 0), 0.0f);
  k->KernelAngleRadians = 3.141592653589793 / 6;  // a corner now points along the columns
  std::vector<float> turned = Raw(k->CreatePolygonKernel(21, 3));
  EXPECT_GT(turned[size_t(c * n + c + 9)], at(9, 0));
}

TEST_F(Kernels, GaussianAndLaplacianValues) {
  std::vector<float> g = Raw(k->CreateGaussianKernel(6, 3));
  EXPECT_FLOAT_EQ(g[24], 1.0f);
  EXPECT_FLOAT_EQ(g[25], float(std::exp(-1.0))) << "exponent r^2 / s^2 with s = 1";
  EXPECT_NEAR(k->GaussianValue(0, 2), 0.25, 1e-15);
  std::vector<float> l = Raw(k->CreateLaplacianKernel(12, 3));
  const int n = 13, c = 6;
  EXPECT_FLOAT_EQ(l[size_t(c * n + c)], 1.0f);
  EXPECT_LT(l[size_t(c * n + c + 4)], 0.0f) << "negative beyond sqrt(2) * s = 2.83";
  EXPECT_FLOAT_EQ(l[size_t(c * n + c + 4)], float(std::exp(-2.0) * (1 - 2.0)));
}

TEST_F(Kernels, AiryDiskIsOneAtTheCentreAndCutAtHalfTheSize) {
  std::vector<float> a = Raw(k->CreateAiryKernel(10, 3));
  const int n = 11, c = 5;
  EXPECT_NEAR(a[size_t(c * n + c)], 1.0f, 1e-6);
  const double rho = 1.0 / (10 / 20.347);
  EXPECT_FLOAT_EQ(a[size_t(c * n + c + 1)], float(4 * std::pow(std::cyl_bessel_j(1.0, rho) / rho, 2)));
  EXPECT_NEAR(a[size_t(c * n + c + 5)], 0.0f, 1e-9) << "r = 5 is at the cut, a zero of J1";
  EXPECT_EQ(a[size_t(c * n + c + 5 + n)], 0.0f) << "beyond the cut";
  EXPECT_GT(a[size_t(c * n + c + 4)], 0.0f);
}

TEST_F(Kernels, WeightsAreNormalisedToAnAbsoluteSumOfOne) {
  for (int style = 0; style < 5; ++style) {
    k->BlurStyleIndex = style;
    std::vector<float> w;
    k->ShapeWeights(9.5, 3, w);
    double abs_sum = 0, sum = 0;
    for (float v : w) abs_sum += std::fabs(v), sum += v;
    EXPECT_NEAR(abs_sum, 1.0, 1e-5) << style;
    if (style == 4) {
      EXPECT_LT(sum, 1.0) << "the Laplacian has negative weights";
    }
    // The direct weights equal those through a host kernel image.
    Image* img = k->CreateKernel(9.5, 9.5, nullptr, 3);
    std::vector<float> via_image;
    k->KernelWeights(img, via_image);
    img->Recycle();
    EXPECT_EQ(w, via_image) << style;
  }
}

TEST_F(Kernels, BlurImageIsResizedToEverySideAndOnlyRedCounts) {
  // A 7 x 3 image: red ramps, green is noise that must not matter.
  Image* blur = MakeImage(7, 3, [](int x, int y) {
    FltPixel p;
    p.R = 1.0f + float(x);
    p.G = float((x * 7 + y * 3) % 5);
    return p;
  });
  for (double size : {0.5, 3.0, 4.0, 9.0}) {
    Image* img = k->CreateKernel(size, size, blur, 3);
    const int n = kernel_shapes::SideLength(std::max(size, 3.0));
    EXPECT_EQ(img->Width, n);
    EXPECT_EQ(img->Height, n);
    std::vector<float> w;
    k->KernelWeights(img, w);
    img->Recycle();
    EXPECT_EQ(w.size(), size_t(n * n));
    EXPECT_LT(w[0], w[size_t(n - 1)]) << "the red ramp survives the resize";
  }
  blur->Recycle();
}

TEST_F(Kernels, ABlurImageWithoutRedWeightFailsInsteadOfMakingNaN) {
  Image* blur = Flat(5, 5, FltPixel{});
  Image* img = k->CreateKernel(3, 3, blur, 3);
  std::vector<float> w;
  EXPECT_THROW(k->KernelWeights(img, w), std::runtime_error);
  img->Recycle();
  blur->Recycle();
}

TEST_F(Kernels, NonSquareRequestResizesTheSquareShapeAndGivesItBack) {
  const int64_t before = RefObject::LiveObjects();
  Image* img = k->CreateKernel(3, 7, nullptr, 3);
  EXPECT_EQ(img->Width, 3);
  EXPECT_EQ(img->Height, 7);
  img->Recycle();
  EXPECT_EQ(RefObject::LiveObjects(), before);
  EXPECT_EQ(k->CreateKernel(0, 0, nullptr, 0), nullptr);
}
