// The command's own image reader on arbitrary bytes, as an EXR or a PNG
// file: it either reads the file or refuses it with a UsageError; it never
// crashes, hangs or allocates what a header merely claims (libFuzzer's
// -rss_limit_mb catches the latter). The first byte picks the extension.
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "app/image_io.h"
#include "app/usage_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const std::string base = "/tmp/quorvex-image-fuzz-" + std::to_string(getpid());
  const std::string path = base + (data[0] & 1 ? ".png" : ".exr");
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data + 1),
                                                                 std::streamsize(size - 1));
  try {
    // 256 MB: the limit the fuzzer runs under, well below its RSS limit.
    FileImage file = ReadImageFile(path, uint64_t(256) << 20);
    ChannelPick pick;
    Image* img = MakeHostImage(file, {}, pick);
    img->Recycle();
  } catch (const UsageError&) {
  }
  unlink(path.c_str());
  return 0;
}
