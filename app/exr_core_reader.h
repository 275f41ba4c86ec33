#pragma once
#include <Imath/ImathBox.h>
#include <OpenEXR/openexr.h>

#include <map>
#include <string>

// Scanline pixels through OpenEXR's core library: each chunk is decoded
// straight into the caller's planes (the C++ reader copies every sample
// through a byte-order routine, a quarter of a float frame's read time),
// one chunk per task on the worker threads (oneTBB).
class ExrCoreReader {
 public:
  // Opens the file; throws std::runtime_error with the library's reason.
  explicit ExrCoreReader(const std::string& path);
  ~ExrCoreReader();
  ExrCoreReader(const ExrCoreReader&) = delete;
  ExrCoreReader& operator=(const ExrCoreReader&) = delete;

  // Where a channel goes: width x height samples of 4 bytes, row by row.
  struct Target {
    void* plane;
    exr_pixel_type_t type;  // EXR_PIXEL_FLOAT (halves widened), or EXR_PIXEL_UINT
  };

  // Decodes every chunk of scanline part `part` (data window `window`) into
  // the targets, by channel name; channels without a target are skipped.
  void DecodeScanlines(int part, const Imath::Box2i& window, const std::map<std::string, Target>& targets);

 private:
  exr_result_t DecodeChunk(int part, int y, const Imath::Box2i& window, const std::map<std::string, Target>& targets);
  exr_context_t ctx_ = nullptr;
};
