#include "app/input_rules.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "app/usage_error.h"

namespace input_rules {
namespace {

std::string Reason(int error) {
  switch (error) {
    case ENOENT:
      return "no such file";
    case EACCES:
    case EPERM:
      return "permission denied";
    case ENOTDIR:
      return "a folder on its path is a file";
    case ENAMETOOLONG:
      return "the path is too long";
    case ELOOP:
      return "too many symbolic links on its path";
    default: {
      std::string s = std::strerror(error);
      if (!s.empty()) s[0] = char(std::tolower(static_cast<unsigned char>(s[0])));
      return s;
    }
  }
}

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "is a folder, not a file";
  if (S_ISFIFO(mode)) return "is a FIFO (named pipe), not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file";
  return "is not a regular file";
}

}  // namespace

void CheckPathLength(const std::string& path, const std::string& what) {
  if (path.size() >= PATH_MAX)
    throw UsageError(what + ": a path of " + std::to_string(path.size()) + " characters is longer than the system's " +
                     std::to_string(PATH_MAX - 1));
}

uint64_t CheckReadable(const std::string& path, const std::string& kind) {
  const std::string what = "cannot read " + (kind.empty() ? "" : kind + " ") + path;
  CheckPathLength(path, "cannot read " + path.substr(0, 60) + "...");
  struct stat st {};
  // stat follows links: a link to /dev/zero is judged as the device.
  if (::stat(path.c_str(), &st) != 0) throw UsageError(what + ": " + Reason(errno));
  if (!S_ISREG(st.st_mode)) throw UsageError(what + ": it " + KindOf(st.st_mode));
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw UsageError(what + ": " + Reason(errno));
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);  // the file opened, not a swapped one
  ::close(fd);
  if (!regular) throw UsageError(what + ": it " + KindOf(st.st_mode));
  return uint64_t(st.st_size);
}

std::string ImageFormatOf(const std::string& path) {
  unsigned char b[12] = {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "";
  const ssize_t n = ::pread(fd, b, sizeof b, 0);
  ::close(fd);
  auto starts = [&](const char* magic, size_t len) { return n >= ssize_t(len) && std::memcmp(b, magic, len) == 0; };
  if (starts("\x76\x2f\x31\x01", 4)) return "openexr";
  if (starts("\x89PNG\r\n\x1a\n", 8)) return "png";
  if (starts("\xff\xd8\xff", 3)) return "jpeg";
  if (starts("II*\0", 4) || starts("MM\0*", 4)) return "tiff";
  return "";
}

const char* ReadableFormats() { return "OpenEXR, PNG, JPEG or TIFF"; }

uint64_t DefaultMaxMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return uint64_t(4) << 30;
  return uint64_t(pages) * uint64_t(page) / 2;
}

uint64_t ParseMemorySize(const std::string& text) {
  const std::string bad = "--max-memory \"" + text + "\": expected a size such as 8G, 512M or 1073741824";
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) throw UsageError(bad);
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  std::string unit = end;
  for (char& c : unit) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (unit.size() > 1 && (unit.back() == 'B')) unit.pop_back();
  if (unit.size() > 1 && unit.back() == 'I') unit.pop_back();
  double scale = 1;
  if (unit == "K") scale = 1024.0;
  else if (unit == "M") scale = 1024.0 * 1024;
  else if (unit == "G") scale = 1024.0 * 1024 * 1024;
  else if (unit == "T") scale = 1024.0 * 1024 * 1024 * 1024;
  else if (!unit.empty() && unit != "B") throw UsageError(bad);
  const double bytes = v * scale;
  if (errno || !std::isfinite(bytes) || bytes < 1 || bytes > 9e18) throw UsageError(bad);
  return uint64_t(bytes);
}

std::string FormatMemorySize(uint64_t bytes) {
  char s[32];
  if (bytes >= (uint64_t(1) << 30))
    std::snprintf(s, sizeof s, "%.1f GB", double(bytes) / double(uint64_t(1) << 30));
  else
    std::snprintf(s, sizeof s, "%.0f MB", std::ceil(double(bytes) / double(1 << 20)));
  return s;
}

uint64_t FrameMemoryEstimate(int64_t width, int64_t height, int64_t channels) {
  if (width <= 0 || height <= 0 || channels < 0) return 0;
  const double bytes = double(width) * double(height) * 4.0 * double(3 * channels + 36);
  return bytes > 1.8e19 ? UINT64_MAX : uint64_t(bytes);
}

}  // namespace input_rules
