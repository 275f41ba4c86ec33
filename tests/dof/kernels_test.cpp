#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "dof/kernel_shapes.h"
#include "tests/support/tool_test.h"

using namespace testing_support;

namespace {
// The raw (unnormalised) values of a shape on a grid of side at least 3.
std::vector<float> Shape(int style, double size, int sides = 6, double angle = 0, double bokeh = 0) {
  int32_t side = 0;
  return kernel_shapes::Values({style, sides, angle, bokeh}, size, 3, side);
}

class Kernels : public ToolTest {
 protected:
  filter_interface* k = &q->DepthBlur();
};
}  // namespace

TEST(KernelShapes, SideLengthIsTheSmallestOddNotBelowTheCeiling) {
  const std::pair<double, int> cases[] = {{0, 1}, {0.01, 1}, {3, 3}, {3.01, 5}, {4, 5}, {5, 5}, {6, 7}};
  for (const auto& [size, side] : cases) EXPECT_EQ(kernel_shapes::SideLength(size), side) << size;
}

TEST(KernelShapes, DisksWithAndWithoutBadBokehAndTheSmallestDisk) {
  for (double b : {0.0, 1.0}) {
    std::vector<float> v = Shape(kernel_shapes::Disk, 3, 6, 0, b);
    ASSERT_EQ(v.size(), 9u);
    EXPECT_FLOAT_EQ(v[4], 1.0f);
    EXPECT_FLOAT_EQ(v[1], float(1 + 4 * b));
    EXPECT_FLOAT_EQ(v[3], float(1 + 4 * b));
    EXPECT_FLOAT_EQ(v[0], float((2 - std::sqrt(2.0)) * (1 + 4 * b)));
  }
  // Size 0.01: a radius of 1e-4, so the edge ring one pixel out keeps only that much.
  std::vector<float> v = Shape(kernel_shapes::Disk, 0.01);
  EXPECT_FLOAT_EQ(v[4], 1.0f);
  EXPECT_FLOAT_EQ(v[1], 1e-4f);
  EXPECT_EQ(v[0], 0.0f);
}

TEST(KernelShapes, PolygonAtAngleZeroHasASideTowardsIncreasingColumns) {
  std::vector<float> v = Shape(kernel_shapes::Polygon, 21);
  const int n = 21, c = 10;
  auto at = [&](int dx, int dy) { return v[size_t((c + dy) * n + (c + dx))]; };
  // Along +x the edge (apothem cos(30deg) * R = 8.66) is nearer than along +y,
  // where a corner points at 60 degrees... the column direction ends sooner.
  EXPECT_GT(at(0, 9), 0.0f) << "towards a corner the shape reaches farther";
  EXPECT_LT(at(9, 0), at(0, 9));
  EXPECT_FLOAT_EQ(at(8, 0), 1.0f);
  EXPECT_EQ(at(10, 0), 0.0f);
  std::vector<float> turned = Shape(kernel_shapes::Polygon, 21, 6, 3.141592653589793 / 6);  // a corner along the columns
  EXPECT_GT(turned[size_t(c * n + c + 9)], at(9, 0));
}

TEST(KernelShapes, GaussianLaplacianAndAiryValues) {
  std::vector<float> g = Shape(kernel_shapes::Gaussian, 6);
  EXPECT_FLOAT_EQ(g[24], 1.0f);
  EXPECT_FLOAT_EQ(g[25], float(std::exp(-1.0))) << "exponent r^2 / s^2 with s = 1";
  EXPECT_NEAR(kernel_shapes::GaussianValue(0, 2), 0.25, 1e-15);
  std::vector<float> l = Shape(kernel_shapes::Laplacian, 12);
  int n = 13, c = 6;
  EXPECT_FLOAT_EQ(l[size_t(c * n + c)], 1.0f);
  EXPECT_LT(l[size_t(c * n + c + 4)], 0.0f) << "negative beyond sqrt(2) * s = 2.83";
  EXPECT_FLOAT_EQ(l[size_t(c * n + c + 4)], float(std::exp(-2.0) * (1 - 2.0)));
  // The Airy disk is one at the centre and cut at half the size.
  std::vector<float> a = Shape(kernel_shapes::Airy, 10);
  n = 11, c = 5;
  EXPECT_NEAR(a[size_t(c * n + c)], 1.0f, 1e-6);
  const double rho = 1.0 / (10 / 20.347);
  EXPECT_FLOAT_EQ(a[size_t(c * n + c + 1)], float(4 * std::pow(std::cyl_bessel_j(1.0, rho) / rho, 2)));
  EXPECT_NEAR(a[size_t(c * n + c + 5)], 0.0f, 1e-9) << "r = 5 is at the cut, a zero of J1";
  EXPECT_EQ(a[size_t(c * n + c + 5 + n)], 0.0f) << "beyond the cut";
  EXPECT_GT(a[size_t(c * n + c + 4)], 0.0f);
}

// The tool's weights for each style, directly and through a host kernel
// image (the route a blur image takes), add up to one in absolute value.
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
    Held img(k->CreateKernel(9.5, 9.5, nullptr, 3));
    std::vector<float> via_image;
    k->KernelWeights(img.get(), via_image);
    EXPECT_EQ(w, via_image) << style;
  }
}

TEST_F(Kernels, BlurImageIsResizedToEverySideAndOnlyRedCounts) {
  // A 7 x 3 image: red ramps, green is noise that must not matter.
  Held blur(MakeImage(7, 3, [](int x, int y) {
    FltPixel p;
    p.R = 1.0f + float(x);
    p.G = float((x * 7 + y * 3) % 5);
    return p;
  }));
  for (double size : {0.5, 3.0, 4.0, 9.0}) {
    Held img(k->CreateKernel(size, size, blur.get(), 3));
    const int n = kernel_shapes::SideLength(std::max(size, 3.0));
    EXPECT_EQ(img->Width, n);
    EXPECT_EQ(img->Height, n);
    std::vector<float> w;
    k->KernelWeights(img.get(), w);
    EXPECT_EQ(w.size(), size_t(n * n));
    EXPECT_LT(w[0], w[size_t(n - 1)]) << "the red ramp survives the resize";
  }
  Held black(Flat(5, 5, FltPixel{}));
  Held img(k->CreateKernel(3, 3, black.get(), 3));
  std::vector<float> w;
  EXPECT_THROW(k->KernelWeights(img.get(), w), std::runtime_error) << "no red weight fails instead of making NaN";
}

TEST_F(Kernels, NonSquareRequestResizesTheSquareShapeAndGivesItBack) {
  const int64_t before = RefObject::LiveObjects();
  Held img(k->CreateKernel(3, 7, nullptr, 3));
  EXPECT_EQ(img->Width, 3);
  EXPECT_EQ(img->Height, 7);
  img.reset();
  EXPECT_EQ(RefObject::LiveObjects(), before);
  EXPECT_EQ(k->CreateKernel(0, 0, nullptr, 0), nullptr);
}
