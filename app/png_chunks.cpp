#include "app/png_chunks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace png_chunks {

std::string Problem(const std::string& path, uint64_t file_size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  std::string problem = "the file ends at byte " + std::to_string(file_size) + " before its end chunk: it is cut short";
  for (uint64_t pos = 8; pos + 8 <= file_size;) {
    unsigned char head[8];
    if (::pread(fd, head, 8, off_t(pos)) != 8) break;
    const uint64_t length = (uint64_t(head[0]) << 24) | (uint64_t(head[1]) << 16) | (uint64_t(head[2]) << 8) | head[3];
    const std::string type(reinterpret_cast<const char*>(head + 4), 4);
    if (pos + 12 + length > file_size) {
      problem = "its " + type + " chunk at byte " + std::to_string(pos) + " claims " + std::to_string(length) +
                " bytes, beyond the file's end at byte " + std::to_string(file_size) + ": it is cut short or damaged";
      break;
    }
    if (type == "IEND") {
      problem.clear();
      break;
    }
    pos += 12 + length;
  }
  ::close(fd);
  return problem;
}

}  // namespace png_chunks
