#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "image/aligned_memory.h"
#include "host/Parameter.h"
#include "host/TagList.h"

// Host channel numbers (the values of IMG_Channel).
enum HostChannel : int {
  CHAN_RED = 1,
  CHAN_GREEN = 2,
  CHAN_BLUE = 3,
  CHAN_ALPHA = 4,
  CHAN_Z = 12,
  CHAN_VECTX = 21,
  CHAN_VECTY = 22,
};

// One pixel with every channel the tool works with, as 32-bit floats.
struct FltPixel {
  float R = 0, G = 0, B = 0, A = 0;
  float Z = 0;
  float VectX = 0, VectY = 0;
};

// Fixed-point unit of SamplePixelB: one pixel is 65535 units.
constexpr int32_t kFixedPointPixel = 65535;

// An image: planes of 32-bit floats, row 0 at the top. Red, green, blue and
// alpha always exist; Z, VectX and VectY exist when the image carries them.
// Extra named planes (from a file) ride along and are copied into images made
// after this one at the same size, so they pass through a tool unchanged.
class Image : public Parameter {
 public:
  Image(int width, int height, bool with_z = false, bool with_vectors = false);

  const int Width;
  const int Height;
  TagList Attrs;  // image attributes, e.g. IMG_ResolutionDivisor

  bool HasChannel(int chan) const;
  void AddChannel(int chan);
  float* Plane(int chan);  // null when the image lacks the channel
  const float* Plane(int chan) const;

  struct ExtraPlane {
    std::string name;
    LargeVector<float> data;
  };
  std::vector<ExtraPlane> Extra;

  // Reads pixel (x / 65535, y / 65535); positions outside the image read as zero.
  void SamplePixelB(int64_t x, int64_t y, FltPixel& p) const;
  void GetPixel(int x, int y, FltPixel& p) const;
  void SetPixel(int x, int y, const FltPixel& p);

  // A new image, resampled to RSZ_Width x RSZ_Height with a filtered resize.
  // The caller owns the result.
  Image* ResizeOfImage(const TagList& tags) const;

 private:
  size_t Index(int x, int y) const { return size_t(y) * size_t(Width) + size_t(x); }
  LargeVector<float> planes_[7];  // R, G, B, A, Z, VectX, VectY
  bool present_[7] = {};
  static int Slot(int chan);
};

// Makes an image from the tags: IMG_Like takes format, size and extra planes
// of another image; IMG_Width/IMG_Height set the size; every IMG_Channel adds
// that channel. Returns null when the tags give no valid size. Caller owns it.
Image* NewImage(const TagList& tags);

// The host's sequential access along a row of an image.
class RowIterator {
 public:
  explicit RowIterator(Image* img) : img_(img) {}
  void GotoXY(int x, int y) { x_ = x; y_ = y; }
  void GetNextPixel(FltPixel& p) { img_->GetPixel(x_++, y_, p); }
  void PutNextPixel(const FltPixel& p) { img_->SetPixel(x_++, y_, p); }

 private:
  Image* img_;
  int x_ = 0, y_ = 0;
};
