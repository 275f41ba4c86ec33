#include "process/edge_repair.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "process/channels.h"

namespace {
// Ascending, with NaN after every number so that a corrupt pass cannot break
// the sort's ordering.
bool Before(float a, float b) { return a < b || (!std::isnan(a) && std::isnan(b)); }

float Median(std::vector<float>& v) {
  std::sort(v.begin(), v.end(), Before);
  const size_t n = v.size();
  if (n % 2 == 1) return v[n / 2];
  return (v[n / 2 - 1] + v[n / 2]) * 0.5f;
}
}  // namespace

bool RepairEdgeVelocity(const EdgeRepairSource& src, int col, int row, float& vx, float& vy, float& depth) {
  const int W = src.input->width, H = src.input->height;
  std::vector<float> lx, ly, ld;
  float t = 1.0f;
  for (;;) {
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        const int x = col + dx, y = row + dy;
        if (x < 0 || x > W - 1 || y < 0 || y > H - 1) continue;
        // Whole pixels: the neighbour itself, no interpolation.
        const PixelChannels p = src.input->At(x, y);
        if (p.A < t || std::isnan(p.A)) continue;
        float nx, ny;
        DecodeVelocity(src.velocity->At(x, y), src.velocity_channel, nx, ny);
        lx.push_back(nx);
        ly.push_back(ny);
        ld.push_back(DecodeDepth(src.depth->At(x, y), src.depth_channel));
      }
    if (!lx.empty()) break;
    if (!(double(t) > 0.1)) return false;
    t = float(double(t) * 0.5);
  }
  vx = Median(lx);
  vy = Median(ly);
  depth = Median(ld);
  return true;
}
