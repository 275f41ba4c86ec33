#include "host/Image.h"

#include "host/ImageLibrary.h"

#include <cstdio>
#include <limits>
#include <stdexcept>

int Image::Slot(int chan) {
  switch (chan) {
    case CHAN_RED: return 0;
    case CHAN_GREEN: return 1;
    case CHAN_BLUE: return 2;
    case CHAN_ALPHA: return 3;
    case CHAN_Z: return 4;
    case CHAN_VECTX: return 5;
    case CHAN_VECTY: return 6;
    default: return -1;
  }
}

Image::Image(int width, int height, bool with_z, bool with_vectors)
    : Width(width), Height(height) {
  if (width < 0 || height < 0) throw std::invalid_argument("image size must not be negative");
  for (int c : {CHAN_RED, CHAN_GREEN, CHAN_BLUE, CHAN_ALPHA}) AddChannel(c);
  if (with_z) AddChannel(CHAN_Z);
  if (with_vectors) {
    AddChannel(CHAN_VECTX);
    AddChannel(CHAN_VECTY);
  }
}

bool Image::HasChannel(int chan) const {
  int s = Slot(chan);
  return s >= 0 && present_[s];
}

void Image::AddChannel(int chan) {
  int s = Slot(chan);
  if (s < 0 || present_[s]) return;
  planes_[s].assign(size_t(Width) * size_t(Height), 0.0f);
  present_[s] = true;
}

float* Image::Plane(int chan) {
  int s = Slot(chan);
  if (s < 0 || !present_[s]) return nullptr;
  return planes_[s].data();
}

const float* Image::Plane(int chan) const { return const_cast<Image*>(this)->Plane(chan); }

void Image::GetPixel(int x, int y, FltPixel& p) const {
  size_t i = Index(x, y);
  auto at = [&](int s) { return present_[s] ? planes_[s][i] : 0.0f; };
  p.R = at(0);
  p.G = at(1);
  p.B = at(2);
  p.A = at(3);
  p.Z = at(4);
  p.VectX = at(5);
  p.VectY = at(6);
}

void Image::SetPixel(int x, int y, const FltPixel& p) {
  size_t i = Index(x, y);
  const float v[7] = {p.R, p.G, p.B, p.A, p.Z, p.VectX, p.VectY};
  for (int s = 0; s < 7; ++s)
    if (present_[s]) planes_[s][i] = v[s];
}

void Image::SamplePixelB(int64_t x, int64_t y, FltPixel& p) const {
  p = FltPixel{};
  if (x < 0 || y < 0) return;
  int64_t px = x / kFixedPointPixel, py = y / kFixedPointPixel;
  if (px >= Width || py >= Height) return;
  GetPixel(int(px), int(py), p);
}

Image* Image::ResizeOfImage(const TagList& tags) const {
  int w = int(tags.GetLong(RSZ_Width, Width));
  int h = int(tags.GetLong(RSZ_Height, Height));
  if (w <= 0 || h <= 0) return nullptr;
  // Resample every present plane with the same filtered resize.
  std::vector<int> chans;
  for (int c : {CHAN_RED, CHAN_GREEN, CHAN_BLUE, CHAN_ALPHA, CHAN_Z, CHAN_VECTX, CHAN_VECTY})
    if (Plane(c)) chans.push_back(c);
  Image* img = new Image(w, h);
  std::vector<const float*> from;
  std::vector<float*> to;
  for (int c : chans) {
    img->AddChannel(c);
    from.push_back(Plane(c));
    to.push_back(img->Plane(c));
  }
  // The filtered resize lives in the image-library module (loaded now, if
  // this is the first use).
  std::string error;
  try {
    error = ImageLibrary().Resize(from.data(), int(chans.size()), Width, Height, to.data(), w, h);
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!error.empty()) {
    // The tool sees a failed resize; the reason is the host's to tell.
    std::fprintf(stderr, "ResizeOfImage: %s\n", error.c_str());
    img->Recycle();
    return nullptr;
  }
  return img;
}

Image* NewImage(const TagList& tags) {
  const Image* like = static_cast<const Image*>(tags.GetPtr(IMG_Like, nullptr));
  int64_t w = tags.GetLong(IMG_Width, like ? like->Width : -1);
  int64_t h = tags.GetLong(IMG_Height, like ? like->Height : -1);
  if (w < 0 || h < 0 || w > std::numeric_limits<int>::max() || h > std::numeric_limits<int>::max())
    return nullptr;
  Image* img = new Image(int(w), int(h));
  if (like) {
    for (int c : {CHAN_Z, CHAN_VECTX, CHAN_VECTY})
      if (like->Plane(c)) img->AddChannel(c);
    img->Attrs = like->Attrs;
    if (like->Width == w && like->Height == h) img->Extra = like->Extra;
  }
  for (int64_t c : tags.GetLongs(IMG_Channel)) img->AddChannel(int(c));
  return img;
}
