#pragma once
#include <cstdint>
#include <string>

// Rules every file the command reads passes before a reader sees it, and the
// memory a frame may take. They hold whichever library decodes the pixels.
namespace input_rules {

// The longest argument the command takes, in characters.
constexpr size_t kMaxArgumentLength = 4096;

// Throws UsageError when `path` is longer than the system's PATH_MAX.
void CheckPathLength(const std::string& path, const std::string& what);

// Checks that `path` is a regular file this process may read: a FIFO, a
// device (a link to /dev/zero), a folder or a socket is refused before it is
// opened by a reader, so that nothing waits on it or reads it forever.
// Throws UsageError "cannot read PATH: REASON" ("no such file", "permission
// denied", "is a FIFO, not a regular file", ...). Returns the file's size.
// `kind` ("comp file") is named before the path when given.
uint64_t CheckReadable(const std::string& path, const std::string& kind = "");

// The image format a file's first bytes show, as the decoder library names
// it ("openexr", "png", "jpeg", "tiff"); empty for any other content. Only
// these are read: their readers take the header alone when a file is opened,
// while others (WebP, DPX) allocate what their header claims right there,
// before any size check could run (found by fuzzing). The name's extension
// does not count.
std::string ImageFormatOf(const std::string& path);
// For messages: "OpenEXR, PNG, JPEG or TIFF".
const char* ReadableFormats();

// Half of the machine's memory: the default of --max-memory.
uint64_t DefaultMaxMemory();
// "1G", "512M", "64k", "1073741824" (binary units). Throws UsageError.
uint64_t ParseMemorySize(const std::string& text);
// "1.5 GB"
std::string FormatMemorySize(uint64_t bytes);

// What rendering a frame of this size takes, about: the file's channels read
// and copied into planes and into the output, the tool's working image,
// output, accumulation images and sample list.
//   width x height x 4 bytes x (3 x channels + 36)
// (measured: a 1920 x 1080 frame of 7 channels peaks at 516 MB; this says 473
// MB, the rest being the program and its libraries).
uint64_t FrameMemoryEstimate(int64_t width, int64_t height, int64_t channels);

}  // namespace input_rules
