#include <gtest/gtest.h>

#include <vector>

#include "motion/streak_layout.h"

namespace {
struct Point {
  float x, y, w;
  bool operator==(const Point& o) const { return x == o.x && y == o.y && w == o.w; }
};
std::ostream& operator<<(std::ostream& os, const Point& p) { return os << "(" << p.x << "," << p.y << " w" << p.w << ")"; }

std::vector<Point> Lay(float vx, float vy, float weight = 1.0f, float x = 10, float y = 10, bool mirror = false,
                       int W = 100, int H = 100) {
  pixel_sample s;
  s.x = x;
  s.y = y;
  s.vx = vx;
  s.vy = vy;
  s.weight = weight;
  std::vector<Point> out;
  streak::LayOut(s, mirror, W, H, 2, [&](const pixel_sample& q) { out.push_back({q.x, q.y, q.weight}); });
  return out;
}
}  // namespace

TEST(Streak, StillSamplesSplatOnceUnchanged) {
  EXPECT_EQ(Lay(1, -1), (std::vector<Point>{{10, 10, 1}}));
  EXPECT_EQ(Lay(0.3f, 0.9f, 0.5f), (std::vector<Point>{{10, 10, 0.5f}}));
}

TEST(Streak, HorizontalLayoutsAndWeights) {
  const float third = 1.0f / 3.0f;
  EXPECT_EQ(Lay(3, 0), (std::vector<Point>{{9, 10, third}, {10, 10, third}, {11, 10, third}}));
  EXPECT_EQ(Lay(4, 0), (std::vector<Point>{{9, 10, 0.25f}, {10, 10, 0.25f}, {11, 10, 0.25f}, {8, 10, 0.125f}, {12, 10, 0.125f}}));
  EXPECT_EQ(Lay(4, 0, 0.5f),
            (std::vector<Point>{{9, 10, 0.125f}, {10, 10, 0.125f}, {11, 10, 0.125f}, {8, 10, 0.0625f}, {12, 10, 0.0625f}}));
  const float sixth = 0.5f / 3.0f;
  EXPECT_EQ(Lay(3, 0, 0.5f), (std::vector<Point>{{9, 10, sixth}, {10, 10, sixth}, {11, 10, sixth}}));
}

TEST(Streak, SlopesAndTies) {
  EXPECT_EQ(Lay(-4, 2), (std::vector<Point>{{9, 10.5f, 0.25f}, {10, 10, 0.25f}, {11, 9.5f, 0.25f}, {8, 11, 0.125f},
                                            {12, 9, 0.125f}}));
  EXPECT_EQ(Lay(2, 2), (std::vector<Point>{{10, 10, 0.5f}, {9, 9, 0.25f}, {11, 11, 0.25f}})) << "a tie goes horizontal";
  EXPECT_EQ(Lay(0, -5), (std::vector<Point>{{10, 8, 0.2f}, {10, 9, 0.2f}, {10, 10, 0.2f}, {10, 11, 0.2f}, {10, 12, 0.2f}}));
}

TEST(Streak, JustOverOnePixel) {
  auto p = Lay(1.0001f, 0);
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0], (Point{10, 10, 1.0f / 1.0001f}));
  const float rest = 1.0f - 1.0f / 1.0001f;
  EXPECT_EQ(p[1], (Point{9, 10, rest / 2}));
  EXPECT_EQ(p[2], (Point{11, 10, rest / 2}));
  EXPECT_FLOAT_EQ(p[0].w + p[1].w + p[2].w, 1.0f);
}

TEST(Streak, PointsCarryTheSampleWeightTogether) {
  for (float v : {1.5f, 2.0f, 6.7f, 13.0f, 40.0f}) {
    float sum = 0;
    for (const Point& p : Lay(v, v / 3, 0.8f, 50, 50)) sum += p.w;
    EXPECT_NEAR(sum, 0.8f, 1e-5f) << v;
  }
}

TEST(Streak, MirrorReflectsAboutTheBorderPixelsOuterEdge) {
  // vx 4 at column 0: offsets -2..2 -> columns -2, -1 reflect to 1, 0.
  auto p = Lay(4, 0, 1, 0, 5, true, 10, 10);
  std::vector<float> xs;
  for (auto& q : p) xs.push_back(q.x);
  EXPECT_EQ(xs, (std::vector<float>{0, 0, 1, 1, 2})) << "main -1, 0, 1 then ends -2, 2";
  auto r = Lay(4, 2, 1, 9, 5, true, 10, 10);
  EXPECT_EQ(r[0], (Point{8, 4.5f, 0.25f}));
  EXPECT_EQ(r[2], (Point{9, 5, 0.25f})) << "column 10 reflects to 9: offset 0, so the minor axis is the sample's own";
}

TEST(Streak, NonFiniteAndHugeVelocitiesAreStillOrBounded) {
  EXPECT_EQ(Lay(std::numeric_limits<float>::quiet_NaN(), 0).size(), 1u);
  EXPECT_EQ(Lay(std::numeric_limits<float>::infinity(), 3).size(), 1u);
  EXPECT_EQ(Lay(1e12f, 0).size(), 1u) << "a half-length beyond 32 bits is still";
  // A billion-pixel streak visits only the points that can land (plus its two ends).
  auto p = Lay(1e9f, 0, 1, 50, 50, false, 100, 100);
  EXPECT_LT(p.size(), 120u);
  auto m = Lay(1e9f, 0, 1, 50, 50, true, 100, 100);
  EXPECT_LT(m.size(), 320u);
}

// Leaving out the points that cannot land must never leave out one that can:
// every offset whose point (after the mirror) has a footprint touching the
// image is visited, for streaks along either axis, any slope, inside and
// beyond the borders.
TEST(Streak, EveryPointThatCanLandIsVisited) {
  const int32_t W = 40, H = 30;
  const float positions[][2] = {{0, 0}, {12, 7}, {39, 29}, {-5, 14}, {20, 40}, {-60, -3}};
  const float velocities[][2] = {{300, 0}, {0, -300}, {300, 300}, {-301, 111}, {90, -240}, {41, 17.5f}, {3, 280}};
  for (bool mirror : {false, true})
    for (int32_t reach : {1, 4})
      for (auto& pos : positions)
        for (auto& vel : velocities) {
          pixel_sample s;
          s.x = pos[0];
          s.y = pos[1];
          s.vx = vel[0];
          s.vy = vel[1];
          const streak::Plan plan(s, mirror, W, H, reach);
          const int64_t n = int64_t(std::max(std::fabs(vel[0]), std::fabs(vel[1])) / 2.0f - 0.5f);
          auto touches = [&](float v, int32_t extent) {
            const int32_t c = int32_t(std::floor(v));
            return c + reach >= 0 && c - reach + 1 <= extent - 1;
          };
          for (int64_t i = -n; i <= n; ++i) {
            const pixel_sample q = plan.At(i, 1.0f);
            if (touches(q.x, W) && touches(q.y, H)) {
              ASSERT_TRUE(plan.Visits(i)) << "offset " << i << " lands at (" << q.x << ", " << q.y << "); mirror "
                                          << mirror << " sample (" << pos[0] << ", " << pos[1] << ") velocity ("
                                          << vel[0] << ", " << vel[1] << ")";
            }
          }
          size_t laid = 0;
          streak::LayOut(s, mirror, W, H, reach, [&](const pixel_sample&) { ++laid; });
          EXPECT_EQ(laid, size_t(plan.Count()) + (plan.HasEnds() ? 2 : 0)) << "each offset once";
        }
}
