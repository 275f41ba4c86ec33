#pragma once
// A folder of the test's own under the system's temporary folder, removed
// with everything in it, and a file's bytes.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace testing_support {

struct TempDir {
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "quorvex-test-XXXXXX").string();
    if (!mkdtemp(t.data())) throw std::runtime_error("cannot make a folder for the test");
    dir = t;
  }
  TempDir(const TempDir&) = delete;
  ~TempDir() { std::filesystem::remove_all(dir); }
  std::string P(const std::string& name) const { return (dir / name).string(); }
  std::filesystem::path dir;
};

inline std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace testing_support
