#include "tests/support/engine_frame.h"

#include <boost/make_shared.hpp>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>

#include "motion/streak_layout.h"
#include "tests/support/double_rows.h"
#include "process/sample_pass.h"

namespace testing_support {

bool Emulated() {
  const char* v = std::getenv("QUORVEX_TEST_EMULATED");
  return v && std::string(v) == "1";
}

EngineFrame::EngineFrame(int w, int h, const std::function<PixelChannels(int, int)>& scene, EdgeCondition edges,
                         double max_blur_percent, float focus)
    : width(w), height(h) {
  std::vector<float> planes[7];
  for (auto& p : planes) p.resize(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const PixelChannels c = scene(x, y);
      const float v[7] = {c.R, c.G, c.B, c.A, c.Z, c.VectX, c.VectY};
      for (int k = 0; k < 7; ++k) planes[k][size_t(y) * size_t(w) + size_t(x)] = v[k];
    }
  PlaneImage in;
  in.width = w;
  in.height = h;
  for (int k = 0; k < 7; ++k) in.plane[k] = planes[k].data();
  WritablePlanes out;  // nothing kept

  settings.edges = edges;
  settings.depth.enabled = max_blur_percent > 0;
  settings.depth.focus_distance = dof::DepthToDistance(settings.depth, focus);
  settings.depth.blur_scale =
      settings.depth.enabled ? float(w) * float(max_blur_percent) / 100.0f : settings.depth.kernel_step;
  RunSamplePass(settings, in, in, in, out, samples);
  // Only the entries the samples reach, as the tool builds them.
  const int32_t count = dof::KernelBankSize(settings.depth, w);
  std::vector<uint8_t> wanted(size_t(count), 0);
  for (const pixel_sample& s : samples) wanted[size_t(dof::KernelIndex(settings.depth, count, s.depth))] = 1;
  dof::BuildKernelBank(settings.depth, w, settings.kernel, nullptr, &wanted, bank);

  color.resize(w, h);
  norm.resize(w, h);
  color.add_channel("OutRGBA");
  norm.add_channel("Norm");
  for (int y = 0; y < h; ++y) locks.push_back(boost::make_shared<boost::mutex>());
  for (auto& p : ref) p.assign(size_t(w) * size_t(h), 0.0);
}

void EngineFrame::BlurPass(int threads, blur::BlurPass* kept) {
  blur::PassInputs in;
  in.samples = samples.data();
  in.count = samples.size();
  in.bank = &bank;
  in.depth = settings.depth;
  in.mirror = settings.edges == EdgeCondition::Mirror;
  in.image = {color.channel_row("OutRGBA", 0), norm.channel_row("Norm", 0), color.row_stride, norm.row_stride, width,
              height};
  in.row_locks = &locks;
  in.max_walked_tap_side = max_walked_tap_side;
  in.queued_span_bytes = queued_span_bytes;
  blur::BlurPass own;
  blur::BlurPass& pass = kept ? *kept : own;
  pass.Begin(in);
  const int32_t chunks = int32_t(blur::ChunkCount(samples.size()));
  std::atomic<int32_t> next{0};
  std::atomic<int> abort{0};
  auto work = [&] {
    for (int32_t c; (c = next.fetch_add(1)) < chunks;) pass.RunChunk(c, abort);
  };
  if (Emulated()) threads = 1;
  std::vector<std::thread> workers;
  for (int t = 1; t < threads; ++t) workers.emplace_back(work);
  work();
  for (auto& t : workers) t.join();
  pass.Finish();
}


void EngineFrame::ReferencePass() {
  DoubleRows rows{ref, width, 0, height - 1};
  const bool mirror = settings.edges == EdgeCondition::Mirror;
  for (const pixel_sample& p : samples) {
    const int32_t k = dof::KernelIndex(settings.depth, int32_t(bank.size()), p.depth);
    const int32_t h = splat::KernelHalfSide(k, settings.depth.kernel_step);
    const float* kern = bank[size_t(k)].data();
    streak::LayOut(p, mirror, width, height, h + 1, [&](const pixel_sample& q) {
      if (splat::Lands(q)) splat::FourCopies(rows, q, kern, h);
    });
  }
}

namespace {
float Texture(int x, int y) {
  return 0.2f + 0.6f * float(((x / 7) + (y / 5)) % 3) / 2.0f + 0.1f * std::sin(float(x) * 0.37f + float(y) * 0.11f);
}
}  // namespace

std::function<PixelChannels(int, int)> FlatPicture(float depth, float vx, float vy) {
  return [=](int x, int y) { return PixelChannels{Texture(x, y), Texture(y, x), 0.5f, 1.0f, depth, vx, vy}; };
}

std::function<PixelChannels(int, int)> ShotPicture(int w, int h, float lo, float hi) {
  return [=](int x, int y) {
    const float u = float(x) / float(w), v = float(y) / float(h);
    // Background far away, a floor coming near, three objects in between;
    // HDR highlights beside dark pixels.
    float z = v < 0.5f ? 1.0f : 1.0f - (v - 0.5f) * 1.8f;
    float motion = 0.0f;
    for (int i = 0; i < 3; ++i) {
      const float cx = 0.25f + 0.25f * float(i), cy = 0.5f, r = 0.12f;
      if ((u - cx) * (u - cx) * float(w) / float(h) + (v - cy) * (v - cy) < r * r) {
        z = 0.2f + 0.3f * float(i);
        motion = lo + (hi - lo) * float(i) / 2.0f;
      }
    }
    const float bright = (x * 7 + y * 3) % 53 == 0 ? 1e4f : (x + y) % 11 == 0 ? 1e-3f : Texture(x, y);
    return PixelChannels{bright, Texture(y, x), 0.3f + 0.4f * u, 1.0f, z, motion, motion * 0.25f};
  };
}

}  // namespace testing_support
