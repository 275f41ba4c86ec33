#include "app/complete_output.h"

#include <filesystem>

#include "app/image_io.h"

bool OutputIsComplete(const std::string& path, std::string* why) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    if (why) *why = "no file " + path;
    return false;
  }
  try {
    // Reading every pixel is the only sure test: a file cut short can still
    // have a valid header.
    ReadImageFile(path);
    return true;
  } catch (const std::exception& e) {
    if (why) *why = e.what();
    return false;
  }
}

std::vector<int> FramesStillToRender(const std::vector<int>& frames, const std::function<std::string(int)>& path_of,
                                     const std::function<void(int, const std::string&)>& kept) {
  std::vector<int> left;
  for (int f : frames) {
    const std::string path = path_of(f);
    if (OutputIsComplete(path))
      kept(f, path);
    else
      left.push_back(f);
  }
  return left;
}
