#include "studio/frame_sources.h"

#include <algorithm>

#include "app/frame_range.h"
#include "app/pass_conventions.h"
#include "host/Tags.h"

SourceImage::~SourceImage() {
  if (full) full->Recycle();
  if (proxy) proxy->Recycle();
}

int ProxyDivisor(int width, int height) {
  const long long pixels = (long long)width * height;
  if (pixels < 200000) return 1;   // renders fast enough at full size
  if (pixels <= 1200000) return 2;  // up to 1280 x 720 and a little more
  return 4;
}

namespace {

std::unique_ptr<SourceImage> Read(const std::string& pattern, const StudioOptions& o, int frame) {
  auto s = std::make_unique<SourceImage>();
  s->path = o.sequence ? PathForFrame(pattern, frame) : pattern;
  s->file = ReadImageFile(s->path);
  s->full = MakeHostImage(s->file, {}, s->pick);
  return s;
}

// The proxy keeps every channel, reduced with the host's filtered resize.
void MakeProxy(SourceImage& s, int divisor, bool carries_divisor) {
  const int w = std::max(1, s.full->Width / divisor), h = std::max(1, s.full->Height / divisor);
  s.proxy = s.full->ResizeOfImage({{RSZ_Width, w}, {RSZ_Height, h}});
  // The tool divides velocities by the input's resolution divisor; the depth
  // blur follows the image width by itself.
  if (s.proxy && carries_divisor) s.proxy->Attrs.Add({IMG_ResolutionDivisor, divisor});
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
  f->divisor = ProxyDivisor(f->input->full->Width, f->input->full->Height);
  if (f->divisor > 1) {
    MakeProxy(*f->input, f->divisor, true);
    if (f->motion) MakeProxy(*f->motion, f->divisor, false);
    if (f->depth) MakeProxy(*f->depth, f->divisor, false);
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
