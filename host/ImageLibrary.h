#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/aligned_memory.h"

// The image-library module: everything the project does with OpenImageIO
// (the formats other than OpenEXR, 8-bit encoding, the filtered resize)
// lives in one module built apart, loaded with dlopen the first time one of
// its functions is needed. Work on EXR files without a "BlurImage" never
// loads it, so programs start without OpenImageIO's hundreds of libraries.

// How a file stores a channel's samples.
enum class SampleType { Uint8, Uint16, Half, Float, Uint, Other };

// A decoded file: every part of the first part's size, as float planes.
struct DecodedPicture {
  int width = 0, height = 0;
  bool display_encoded = false;  // 8-bit sRGB colour (PNG, JPEG, ...)
  std::vector<std::string> names;
  std::vector<SampleType> types;
  std::vector<LargeVector<float>> planes;
};

// A plane to encode: its name, the type to store, its width x height floats.
struct PlaneToEncode {
  std::string name;
  SampleType type;
  const float* data;
};

// A header attribute for display (Python's file reads): text, or a number.
struct HeaderAttribute {
  std::string name;
  enum Kind { Text, Integer, Real } kind = Text;
  std::string text;
  double number = 0;
};

// The module's table. Each function returns an empty string on success and
// the reason otherwise; none throws.
struct ImageLibraryTable {
  int version;  // kImageLibraryVersion of the module's build
  // Reads `path` with the reader of `format` ("png", "jpeg", "tiff").
  // `check(width, height, channels)` sees the headers before any pixel is
  // read and may refuse with a reason.
  std::string (*Read)(const std::string& path, const std::string& format,
                      const std::function<std::string(int, int, int64_t)>& check, DecodedPicture& out);
  // Encodes planes into the bytes of the format `path`'s extension names.
  // `srgb_straight` marks 8-bit colour with straight alpha.
  std::string (*Encode)(const std::string& path, int width, int height, const std::vector<PlaneToEncode>& planes,
                        bool srgb_straight, std::vector<unsigned char>& bytes);
  // True when a writer for `path`'s extension exists.
  bool (*CanWrite)(const std::string& path);
  // The first part's header attributes.
  std::string (*Attributes)(const std::string& path, std::vector<HeaderAttribute>& out);
  // Filtered resize of `count` planes from w x h to out_w x out_h, on the
  // calling thread.
  std::string (*Resize)(const float* const* planes, int count, int w, int h, float* const* out, int out_w, int out_h);
};

constexpr int kImageLibraryVersion = 1;
// The symbol the module exports: `const ImageLibraryTable* quorvex_image_library()`.
#define QUORVEX_IMAGE_LIBRARY_SYMBOL "quorvex_image_library"
// The module's file name, found beside the host library (or at the path the
// environment variable names).
#define QUORVEX_IMAGE_LIBRARY_FILE "quorvex_imageio.so"
#define QUORVEX_IMAGE_LIBRARY_ENV "QUORVEX_IMAGE_LIBRARY"

// The loaded module's table; loads it on the first call (thread-safe).
// Throws std::runtime_error saying which file could not be loaded and why.
const ImageLibraryTable& ImageLibrary();

// True once the module has been loaded in this process.
bool ImageLibraryLoaded();
