#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/image_io.h"

// OpenEXR files read and written with the format's own library, straight
// between the file's channels and float planes. A file read keeps every part's
// header and the channels the image does not show (parts of another size,
// exact uint samples), so that writing the frame back gives the input's parts,
// names, attributes and windows with the new pixels.
namespace exr_file {

// What a file read keeps of its parts (opaque outside exr_file.cpp).
struct Layout;

// The worker threads OpenEXR decodes and encodes on (0: one per core).
void SetThreads(int threads);

// Reads every part; `check(width, height, channels)` sees the first part's
// size and the channel count of the parts the image holds before any pixel
// is read, and throws to refuse. Throws UsageError "cannot read PATH: ...".
FileImage Read(const std::string& path, const std::function<void(int, int, int64_t)>& check);

// One channel to write, under its image name (as FileImage names it).
struct OutChannel {
  std::string name;
  SampleType type;  // Half, Float or Uint
  const float* data;
  const uint32_t* exact = nullptr;  // a uint channel's own samples, when passed through
};

struct WriteSettings {
  std::string compression;  // "" keeps each input part's; else a name of CompressionNames()
  std::vector<std::pair<std::string, std::string>> attributes;  // string attributes added to the first part
};

// The file's bytes: with `source`'s OpenEXR parts when it has them (every
// header attribute, tiled parts written as scanlines), the channels named
// like the source's replacing its pixels and the others added to the part
// that holds the source's red channel (`red_name`); else one part.
std::vector<char> Encode(int width, int height, const std::vector<OutChannel>& channels, const FileImage* source,
                         const std::string& red_name, const WriteSettings& settings);

// A uint channel's exact samples as read (the image's plane holds them as
// floats), or null.
const uint32_t* ExactSamples(const FileImage& file, const std::string& name);

// The first part's text and number attributes (compression by its name).
std::vector<HeaderAttribute> Attributes(const FileImage& file);

// "none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab".
const std::vector<std::string>& CompressionNames();

}  // namespace exr_file
