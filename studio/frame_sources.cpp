#include "studio/frame_sources.h"

#include <algorithm>
#include <stdexcept>

#include "app/frame_range.h"
#include "app/pass_conventions.h"
#include "host/Tags.h"

SourceImage::~SourceImage() {
  for (Image* img : {full, half, quarter})
    if (img) img->Recycle();
}

bool WantsProxies(int width, int height) { return (long long)width * height >= 100000; }

int ProxyDivisor(double last_full_ms) { return last_full_ms <= 300.0 ? 2 : 4; }

namespace {

std::unique_ptr<SourceImage> Read(const std::string& pattern, const StudioOptions& o, int frame) {
  auto s = std::make_unique<SourceImage>();
  s->path = o.sequence ? PathForFrame(pattern, frame) : pattern;
  s->file = ReadImageFile(s->path);
  s->full = MakeHostImage(s->file, {}, s->pick);
  return s;
}

// A proxy keeps every channel, reduced with the host's filtered resize.
Image* Reduce(const Image& full, int divisor, bool carries_divisor) {
  const int w = std::max(1, full.Width / divisor), h = std::max(1, full.Height / divisor);
  Image* img = full.ResizeOfImage({{RSZ_Width, w}, {RSZ_Height, h}});
  if (!img) throw std::runtime_error("cannot make a proxy of the frame");
  // The tool divides velocities by the input's resolution divisor; the depth
  // blur follows the image width by itself.
  if (carries_divisor) img->Attrs.Add({IMG_ResolutionDivisor, divisor});
  return img;
}

void MakeProxies(SourceImage& s, bool carries_divisor) {
  s.half = Reduce(*s.full, 2, carries_divisor);
  s.quarter = Reduce(*s.full, 4, carries_divisor);
}

}  // namespace

std::unique_ptr<FrameSources> LoadFrameSources(const StudioOptions& o, int frame) {
  auto f = std::make_unique<FrameSources>();
  f->frame = frame;
  f->input = Read(o.input, o, frame);
  if (!o.motion.empty()) f->motion = Read(o.motion, o, frame);
  if (!o.depth.empty()) f->depth = Read(o.depth, o, frame);
  SourceImage& vectors = f->motion ? *f->motion : *f->input;
  ApplyVectorConvention(vectors.file, *vectors.full, vectors.pick, VectorConvention{});
  ApplyDepthConvention(*(f->depth ? f->depth : f->input)->full, DepthConvention{});
  f->proxies = WantsProxies(f->input->full->Width, f->input->full->Height);
  if (f->proxies) {
    MakeProxies(*f->input, true);
    if (f->motion) MakeProxies(*f->motion, false);
    if (f->depth) MakeProxies(*f->depth, false);
  }
  return f;
}

std::vector<float> InterleavedRGBA(const Image& img) {
  const size_t n = size_t(img.Width) * size_t(img.Height);
  std::vector<float> out(4 * n);
  const float* planes[4] = {img.Plane(CHAN_RED), img.Plane(CHAN_GREEN), img.Plane(CHAN_BLUE), img.Plane(CHAN_ALPHA)};
  for (int c = 0; c < 4; ++c)
    for (size_t i = 0; i < n; ++i) out[4 * i + c] = planes[c][i];
  return out;
}
