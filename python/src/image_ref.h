#pragma once
#include "host/Image.h"

// A host image a call owns, given back to the host when the call ends.
struct ImageRef {
  Image* image = nullptr;
  ImageRef() = default;
  explicit ImageRef(Image* img) : image(img) {}
  ImageRef(const ImageRef&) = delete;
  ImageRef& operator=(const ImageRef&) = delete;
  ~ImageRef() {
    if (image) image->Recycle();
  }
};
