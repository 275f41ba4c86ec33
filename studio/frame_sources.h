#pragma once
#include <memory>
#include <string>
#include <vector>

#include "app/image_io.h"
#include "studio/studio_options.h"

// One image file of the frame: the host image the tool reads, and reduced
// copies for proxy renders (null when the frame renders without proxies).
struct SourceImage {
  std::string path;
  FileImage file;
  ChannelPick pick;
  Image* full = nullptr;
  Image* half = nullptr;
  Image* quarter = nullptr;
  Image* Reduced(int divisor) const { return divisor == 4 ? quarter : divisor == 2 ? half : full; }
  SourceImage() = default;
  SourceImage(const SourceImage&) = delete;
  SourceImage& operator=(const SourceImage&) = delete;
  ~SourceImage();
};

// The files of one frame, read as quorvex-render reads them (channel names,
// renderer conventions with their defaults).
struct FrameSources {
  int frame = 1;
  bool proxies = false;  // half and quarter copies exist
  std::unique_ptr<SourceImage> input, motion, depth;

  // The image that holds the depth the tool reads: the depth file, or the input.
  const Image& DepthImage() const { return *(depth ? depth : input)->full; }
};

// Frames this small render fast enough without a proxy.
bool WantsProxies(int width, int height);

// The proxy's reduction, from how long the last full render took: a half
// while a quarter of that time (fewer pixels, smaller blurs) stays well
// inside a tenth of a second, a quarter for slower frames.
int ProxyDivisor(double last_full_ms);

// Reads the frame's files. Throws UsageError when a file cannot be read.
std::unique_ptr<FrameSources> LoadFrameSources(const StudioOptions& o, int frame);

// Red, green, blue and alpha of an image, four floats per pixel, row 0 at the top.
std::vector<float> InterleavedRGBA(const Image& img);
