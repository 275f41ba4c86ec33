#include <gtest/gtest.h>

#include <cmath>

#include "process/edge_repair.h"
#include "tests/support/tool_test.h"

using testing_support::Held;
using testing_support::MakeImage;

namespace {
// A 5 x 5 picture: alpha from `alpha`, VectX = 10 * x + y, Z = x.
Held Scene(const std::function<float(int, int)>& alpha, int w = 5, int h = 5) {
  return Held(MakeImage(w, h, [&](int x, int y) {
    FltPixel p;
    p.A = alpha(x, y);
    p.VectX = float(10 * x + y);
    p.VectY = float(-x);
    p.Z = float(x);
    return p;
  }));
}

bool Repair(const Held& img, int col, int row, float& vx, float& vy, float& z) {
  const PlaneImage planes = PlanesOf(*img);
  return RepairEdgeVelocity({&planes, &planes, &planes, 0.0f, 0.0f}, col, row, vx, vy, z);
}
}  // namespace

TEST(EdgeRepair, OpaqueNeighboursAloneGiveTheMedians) {
  // Only column 4 is opaque; the centre pixel sees (4, 0..4).
  Held img = Scene([](int x, int) { return x == 4 ? 1.0f : 0.3f; });
  float vx = -1, vy = -1, z = -1;
  ASSERT_TRUE(Repair(img, 2, 2, vx, vy, z));
  EXPECT_EQ(vx, 42.0f);
  EXPECT_EQ(vy, -4.0f);
  EXPECT_EQ(z, 4.0f);
}

TEST(EdgeRepair, TheThresholdHalvesUntilSomethingQualifies) {
  Held img = Scene([](int x, int y) { return x == 0 && y == 0 ? 0.07f : 0.05f; });
  float vx = -1, vy = -1, z = -1;
  ASSERT_TRUE(Repair(img, 1, 1, vx, vy, z)) << "0.07 passes at the fifth scan (0.0625)";
  EXPECT_EQ(vx, 0.0f);
  Held faint = Scene([](int, int) { return 0.06f; });
  vx = -1;
  EXPECT_FALSE(Repair(faint, 2, 2, vx, vy, z));
  EXPECT_EQ(vx, -1.0f) << "nothing at 0.0625 or more: the pixel keeps its values";
}

TEST(EdgeRepair, CornersScanOnlyTheInsideAndNaNAlphasAreSkipped) {
  Held img = Scene([](int x, int y) { return x + y == 1 ? std::numeric_limits<float>::quiet_NaN() : 1.0f; });
  float vx = 0, vy = 0, z = 0;
  ASSERT_TRUE(Repair(img, 0, 0, vx, vy, z));
  // Inside the window: (0..2, 0..2) less the two NaN pixels (1,0) and (0,1):
  // VectX 0, 2, 11, 12, 20, 21, 22 -> median 12.
  EXPECT_EQ(vx, 12.0f);
}

TEST(EdgeRepair, EvenCountsAverageTheMiddleEntriesAndListsSortIndependently) {
  Held img(MakeImage(2, 1, [](int x, int) {
    FltPixel p;
    p.A = 1;
    p.VectX = x == 0 ? 6.0f : 2.0f;
    p.VectY = x == 0 ? 1.0f : 5.0f;
    p.Z = x == 0 ? 9.0f : 3.0f;
    return p;
  }));
  float vx = 0, vy = 0, z = 0;
  ASSERT_TRUE(Repair(img, 0, 0, vx, vy, z));
  EXPECT_EQ(vx, 4.0f);
  EXPECT_EQ(vy, 3.0f);
  EXPECT_EQ(z, 6.0f);
}
