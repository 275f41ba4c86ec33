#pragma once
#include <memory>
#include <string>
#include <vector>

#include "app/image_io.h"
#include "studio/studio_options.h"

// One image file of the frame: the host image the tool reads, and a reduced
// copy for proxy renders (null when the frame renders without a proxy).
struct SourceImage {
  std::string path;
  FileImage file;
  ChannelPick pick;
  Image* full = nullptr;
  Image* proxy = nullptr;
  SourceImage() = default;
  SourceImage(const SourceImage&) = delete;
  SourceImage& operator=(const SourceImage&) = delete;
  ~SourceImage();
};

// The files of one frame, read as quorvex-render reads them (channel names,
// renderer conventions with their defaults).
struct FrameSources {
  int frame = 1;
  int divisor = 1;  // the proxy's reduction: 1 (none), 2 or 4
  std::unique_ptr<SourceImage> input, motion, depth;

  // The image that holds the depth the tool reads: the depth file, or the input.
  const Image& DepthImage() const { return *(depth ? depth : input)->full; }
};

// Proxy reduction for a frame of this size: a half for frames up to a
// quarter megapixel more than HD ready, a quarter above, none for small ones.
int ProxyDivisor(int width, int height);

// Reads the frame's files. Throws UsageError when a file cannot be read.
std::unique_ptr<FrameSources> LoadFrameSources(const StudioOptions& o, int frame);

// Red, green, blue and alpha of an image, four floats per pixel, row 0 at the top.
std::vector<float> InterleavedRGBA(const Image& img);
