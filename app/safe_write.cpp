#include "app/safe_write.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

std::string TemporaryPathFor(const std::string& path) {
  static std::atomic<int> counter{0};
  fs::path p(path);
  std::string name = "." + p.stem().string() + ".tmp-" + std::to_string(getpid()) + "-" +
                     std::to_string(counter.fetch_add(1)) + p.extension().string();
  return (p.parent_path() / name).string();
}

void WriteFileSafely(const std::string& path, const std::function<void(const std::string& tmp)>& write) {
  const std::string tmp = TemporaryPathFor(path);
  try {
    write(tmp);
    fs::rename(tmp, path);
  } catch (...) {
    std::error_code ec;
    fs::remove(tmp, ec);
    throw;
  }
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}
