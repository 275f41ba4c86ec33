// Writes the bundled example scene: colour with alpha, depth in millimetres
// and motion vectors in pixels (VectX right, VectY up), as one OpenEXR file.
//
//   make_example OUT.exr [WIDTH HEIGHT]
//
// A textured wall far behind, a checkered floor running towards the camera,
// three balls at different distances (one flying fast to the right) and a
// spinning bar near the lens.
#include <OpenImageIO/imageio.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Shade {
  float r, g, b, a, z, vx, vy;
};

float Fract(float v) { return v - std::floor(v); }

Shade Background(float u, float v, int w, int h) {
  const float horizon = 0.45f;
  if (v < horizon) {
    // Wall at 6 m: bricks.
    const float bu = u * 24.0f + (int(v * 40.0f) % 2) * 0.5f, bv = v * 40.0f;
    const bool mortar = Fract(bu) < 0.08f || Fract(bv) < 0.12f;
    const float tint = 0.6f + 0.4f * std::sin(float(int(bu)) * 12.9898f + float(int(bv)) * 78.233f);
    Shade s{mortar ? 0.5f : 0.55f * tint, mortar ? 0.48f : 0.22f * tint, mortar ? 0.45f : 0.14f * tint, 1, 6000, 0, 0};
    return s;
  }
  // Floor from 6 m at the horizon to 0.8 m at the bottom edge.
  const float t = (v - horizon) / (1.0f - horizon);
  const float dist = 800.0f / (0.1333f + 0.8667f * t);
  const float x = (u - 0.5f) * dist / 400.0f, zz = dist / 400.0f;
  const bool check = (int(std::floor(x)) + int(std::floor(zz))) % 2 == 0;
  const float c = check ? 0.8f : 0.12f;
  (void)w;
  (void)h;
  return {c * 0.9f, c * 0.85f, c * 0.7f, 1, dist, 0, 0};
}

struct Ball {
  float cx, cy, radius, dist, vx, vy;
  float r, g, b;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_example OUT.exr [WIDTH HEIGHT]\n");
    return 2;
  }
  const int W = argc > 3 ? std::atoi(argv[2]) : 480, H = argc > 3 ? std::atoi(argv[3]) : 270;
  const float sx = W / 480.0f;
  const Ball balls[] = {
      {120 * sx, 150 * sx, 38 * sx, 1200, 0, 0, 0.9f, 0.25f, 0.2f},      // near, still, out of focus
      {250 * sx, 120 * sx, 30 * sx, 2000, 28 * sx, 0, 0.2f, 0.5f, 0.95f},  // in focus, flying right
      {380 * sx, 95 * sx, 22 * sx, 4000, 0, -12 * sx, 0.95f, 0.85f, 0.2f}, // far, falling
  };
  std::vector<float> px(size_t(W) * H * 7);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      Shade s = Background((x + 0.5f) / W, (y + 0.5f) / H, W, H);
      float best = s.z;
      for (const Ball& b : balls) {
        const float dx = x + 0.5f - b.cx, dy = y + 0.5f - b.cy, d = std::sqrt(dx * dx + dy * dy);
        if (d > b.radius + 0.5f || b.dist > best) continue;
        const float cover = std::fmin(1.0f, b.radius + 0.5f - d);  // antialiased rim
        const float light = 0.35f + 0.65f * std::fmax(0.0f, (-dx - dy) / (1.4f * b.radius) + 0.6f);
        const float stripe = Fract((dx + dy * 0.5f) / (6.0f * sx)) < 0.5f ? 1.0f : 0.7f;
        const float k = light * stripe;
        s = {b.r * k * cover + s.r * (1 - cover), b.g * k * cover + s.g * (1 - cover),
             b.b * k * cover + s.b * (1 - cover), 1, b.dist, b.vx, b.vy};
        best = b.dist;
      }
      // A bar near the lens, spinning: its ends move fastest.
      const float bx = x + 0.5f - 420 * sx, by = y + 0.5f - 215 * sx;
      if (std::fabs(by) < 6 * sx && std::fabs(bx) < 45 * sx && 900 < best) {
        s = {0.95f, 0.95f, 0.9f, 1, 900, 0, bx * 0.5f};
      }
      float* p = &px[(size_t(y) * W + x) * 7];
      const float v[7] = {s.r, s.g, s.b, s.a, s.z, s.vx, s.vy};
      for (int c = 0; c < 7; ++c) p[c] = v[c];
    }
  OIIO::ImageSpec layout(W, H, 7, OIIO::TypeDesc::HALF);
  layout.channelnames = {"R", "G", "B", "A", "Z", "VectX", "VectY"};
  layout.channelformats = {OIIO::TypeDesc::HALF,  OIIO::TypeDesc::HALF,  OIIO::TypeDesc::HALF, OIIO::TypeDesc::HALF,
                         OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::FLOAT};
  layout.alpha_channel = 3;
  layout.z_channel = 4;
  layout.attribute("compression", "zip");
  auto out = OIIO::ImageOutput::create(argv[1]);
  if (!out || !out->open(argv[1], layout) || !out->write_image(OIIO::TypeDesc::FLOAT, px.data()) || !out->close()) {
    std::fprintf(stderr, "make_example: cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("wrote %s (%d x %d)\n", argv[1], W, H);
  return 0;
}
