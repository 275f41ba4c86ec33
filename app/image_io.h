#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/Image.h"
#include "host/ImageLibrary.h"

namespace exr_file {
struct Layout;
}

// An image file's channels as float planes, every part of a multi-part file
// included (a part's channels are prefixed with its name when they carry no
// layer of their own).
struct FileImage {
  std::string path;
  int width = 0, height = 0;
  std::vector<std::string> names;
  std::vector<SampleType> types;
  std::vector<LargeVector<float>> planes;
  bool display_encoded = false;  // 8-bit sRGB colour (PNG, JPEG, ...)
  // An OpenEXR file's parts as read (headers, channels the planes do not
  // hold), so that a frame written from it keeps them; null for other formats.
  std::shared_ptr<const exr_file::Layout> exr;

  int Index(const std::string& name) const;
  std::string ChannelList() const;
};

// Reads every part of an image file: OpenEXR through its own library, other
// formats through the image-library module (loaded then). Throws UsageError naming the file and
// the reason when it cannot: the file is no regular readable file, an EXR is
// cut short, or the frame it holds would need more than `max_memory` bytes
// to render (judged from its header, before any pixel is read).
FileImage ReadImageFile(const std::string& path, uint64_t max_memory);
FileImage ReadImageFile(const std::string& path);  // against the default limit

// Which channels of a file play which role of the host image.
struct ChannelPick {
  std::map<std::string, std::string> role_to_name;  // "R" -> "ViewLayer.Combined.R"
};

// Builds a host image from a file: R, G and B must be found (a grey image
// gives its one channel to all three), A defaults to opaque, Z, VectX and
// VectY are added when found. All other channels ride along as extra planes.
// Throws UsageError naming the channels found when colour is missing.
Image* MakeHostImage(const FileImage& file, const std::map<std::string, std::string>& mapped, ChannelPick& pick);
// The same for a pass in its own file (depth, motion): colour is not needed
// there; when the file has none, red, green and blue are 0 and alpha 1.
Image* MakePassImage(const FileImage& file, const std::map<std::string, std::string>& mapped, ChannelPick& pick);

enum class OutputDepth { Auto, Half, Float };

// What an EXR output adds to the input's headers.
struct ExrOutputSettings {
  std::string compression;  // "" keeps the input part's (zip for inputs of other formats)
  std::vector<std::pair<std::string, std::string>> attributes;  // string attributes of the first part
};

// Writes an image to a file chosen by its extension: OpenEXR keeps every
// channel (names and half/float types taken from the input's pick and
// types) and, when the source is an EXR file, its parts and headers; 8-bit formats get red, green, blue and alpha encoded for display.
// The file is encoded in memory and written through WriteBytesSafely, so a
// failed write leaves any earlier file as it was. Half-float channels hold
// values beyond half's range as its largest finite value (warn() is told how
// many were held). Output names are unique: roles that read one file channel
// together (--channels R=G) are written under the roles' names ("R", "G"),
// and an unused input channel that a role's name then shadows is written as
// NAME_input.
void WriteImageFile(const std::string& path, const Image& img, const FileImage* source, const ChannelPick& pick,
                    OutputDepth depth, const std::function<void(const std::string&)>& warn = {},
                    const ExrOutputSettings& exr = {});

// True when the command can write an image of this file name's extension
// (any but EXR asks the image-library module).
bool CanWriteImage(const std::string& path);

// Throws UsageError unless `path` names a preview format (PNG, JPEG, ...).
void CheckPreviewPath(const std::string& path);

// An sRGB 8-bit picture of the image's colour, for a quick look.
void WritePreview(const std::string& path, const Image& img);
