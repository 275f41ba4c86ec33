// The sample pass: every input pixel becomes the output's first version of
// that pixel and, unless empty, a pixel_sample (plus edge copies).
#include <algorithm>
#include <cmath>

#include "process/sample_pass.h"

#include "process/channels.h"
#include "process/edge_repair.h"

namespace {

// Edge copies for "Duplicate": copies of the sample beyond the image border,
// reaching half the velocity (rounded up) past it. A corner pixel fills the
// diagonal block beyond the corner and the two straight strips beside it, so
// that rows and columns at the border do not darken towards the corners.
// Copies reach at most the image's own width (height) plus the kernel's reach
// beyond the border: a corrupt velocity of a billion pixels must not make a
// billion copies, and streaks that long have smeared the frame flat anyway.
void AppendEdgeCopies(LargeVector<pixel_sample>& out, const pixel_sample& s, int col, int row, int W, int H,
                      int64_t reach) {
  const double ax = std::fabs(double(s.vx)), ay = std::fabs(double(s.vy));
  if (!std::isfinite(ax) || !std::isfinite(ay)) return;
  const int64_t cx = int64_t(std::min(std::ceil(ax * 0.5), double(W + reach)));
  const int64_t cy = int64_t(std::min(std::ceil(ay * 0.5), double(H + reach)));
  auto add = [&](int64_t x, int64_t y) {
    pixel_sample c = s;
    c.x = float(x);
    c.y = float(y);
    out.push_back(c);
  };
  const bool left = col == 0, right = !left && col == W - 1;
  const bool top = row == 0, bottom = !top && row == H - 1;
  const int64_t sx = left ? -1 : 1;   // direction away from the image
  const int64_t sy = top ? -1 : 1;
  if (left || right) {
    if (top || bottom)
      for (int64_t i = 0; i < cy; ++i)
        for (int64_t j = 0; j < cx; ++j) add(col + sx * (1 + j), row + sy * (1 + i));
    for (int64_t j = 0; j < cx; ++j) add(col + sx * (1 + j), row);
  }
  if (top || bottom)
    for (int64_t i = 0; i < cy; ++i) add(col, row + sy * (1 + i));
}

// Edge copies per border pixel that the sample list has room for up front.
constexpr size_t kEdgeCopyRoom = 64;

}  // namespace

size_t RunSamplePass(const FrameSettings& fs, const PlaneImage& input, const PlaneImage& depth_image,
                   const PlaneImage& velocity, WritablePlanes& out, LargeVector<pixel_sample>& samples) {
  const int W = input.width, H = input.height;
  const float divisor = float(fs.divisor);
  const bool duplicate = fs.edges == EdgeCondition::Duplicate;
  const bool normalize = fs.normalize;
  const EdgeRepairSource repair{&input, &velocity, &depth_image, fs.velocity_channel, fs.depth_channel};
  // The farthest a kernel reaches beyond its point: half the largest blur.
  const float largest_blur = fs.depth.enabled ? std::min(fs.depth.blur_scale, float(W) / 4.0f) : 0.0f;
  const int64_t reach = int64_t(std::isfinite(largest_blur) && largest_blur > 0 ? largest_blur / 2 : 0) + 3;

  const double corrupt_length = kCorruptMotionSides * double(std::max(W, H));
  size_t corrupt = 0;
  // Most pixels make a sample: room for all of them (and, with "Duplicate",
  // for the edge copies of streaks up to 2 kEdgeCopyRoom pixels long) up
  // front spares the list a regrowth that copies every sample near the end.
  // Room never written costs no memory.
  const size_t edge_room = duplicate ? kEdgeCopyRoom * 2 * (size_t(W) + size_t(H)) : 0;
  samples.reserve(samples.size() + size_t(W) * size_t(H) + edge_room);
  for (int row = 0; row < H; ++row) {
    for (int col = 0; col < W; ++col) {
      const PixelChannels in = input.At(col, row);
      pixel_sample s;
      s.x = float(col);
      s.y = float(row);
      s.color = {in.R, in.G, in.B, in.A};
      float depth = DecodeDepth(depth_image.At(col, row), fs.depth_channel);
      float vx, vy;
      DecodeVelocity(velocity.At(col, row), fs.velocity_channel, vx, vy);

      const size_t i = size_t(row) * size_t(W) + size_t(col);
      const float written[7] = {in.R, in.G, in.B, in.A, depth, vx, vy};
      for (int c = 0; c < 7; ++c)
        if (out.plane[c]) out.plane[c][i] = written[c];

      const float a = s.color.a;
      if (!fs.antialiased_velocity && a > 0.0f && a < 1.0f) RepairEdgeVelocity(repair, col, row, vx, vy, depth);
      if (fs.clamped_velocity) {
        vx -= 0.5f;
        vy -= 0.5f;
      }
      if (fs.antialiased_velocity && a > 0.0f) {
        vx /= a;
        vy /= a;
      }
      s.vx = vx * fs.scale_x / divisor;
      s.vy = vy * fs.scale_y / divisor;

      const float mean = (s.color.r + s.color.g + s.color.b) / 3.0f;
      if (fs.min_weight > mean)
        s.weight = fs.min_weight;
      else
        s.weight = mean > 1.0f ? 1.0f : mean;

      if (!(s.color.r + s.color.g + s.color.b + s.color.a > 0.0f) && !normalize) continue;

      const double length = std::max(std::fabs(double(s.vx)), std::fabs(double(s.vy)));
      if (!(length <= corrupt_length)) {
        s.vx = s.vy = 0.0f;
        ++corrupt;
      }
      s.depth = dof::SampleDistance(fs.depth, depth);
      samples.push_back(s);
      if (duplicate) AppendEdgeCopies(samples, s, col, row, W, H, reach);
    }
  }
  return corrupt;
}
