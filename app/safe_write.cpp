#include "app/safe_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "app/temporary_files.h"

namespace fs = std::filesystem;

namespace {

int g_fail_block = -1, g_fail_errno = 0;

std::runtime_error WriteError(const std::string& path, int error) {
  return std::runtime_error("cannot write " + path + ": " + std::strerror(error));
}

// The folder holding `path`, for its fsync.
std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

void SyncFolder(const std::string& path) {
  const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) throw WriteError(path, errno);
  const int rc = ::fsync(dir), error = errno;
  ::close(dir);
  // Some file systems cannot sync a folder; the rename itself has happened.
  if (rc != 0 && error != EINVAL && error != EROFS) throw WriteError(path, error);
}

void SyncFile(const std::string& tmp, const std::string& path) {
  const int fd = ::open(tmp.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw WriteError(path, errno);
  const int rc = ::fsync(fd), error = errno;
  ::close(fd);
  if (rc != 0) throw WriteError(path, error);
}

void RenameOver(const std::string& tmp, const std::string& path) {
  if (::rename(tmp.c_str(), path.c_str()) != 0) throw WriteError(path, errno);
  SyncFolder(path);
}

void WriteAll(int fd, const char* p, size_t size, const std::string& path) {
  const size_t kBlock = size_t(1) << 20;
  for (int block = 0; size > 0; ++block) {
    if (block == g_fail_block) throw WriteError(path, g_fail_errno);
    const ssize_t n = ::write(fd, p, std::min(size, kBlock));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw WriteError(path, errno);
    if (n == 0) throw WriteError(path, EIO);
    p += n;
    size -= size_t(n);
  }
}

}  // namespace

void InjectWriteFailureForTesting(int block, int error) {
  g_fail_block = block;
  g_fail_errno = error;
}

std::string TemporaryPathFor(const std::string& path) { return temporary_files::NameFor(path); }

void WriteBytesSafely(const std::string& path, const void* bytes, size_t size) {
  temporary_files::CleanStaleOnce(FolderOf(path));
  const std::string tmp = TemporaryPathFor(path);
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) throw WriteError(path, errno);
  temporary_files::Pending pending(tmp);
  try {
    WriteAll(fd, static_cast<const char*>(bytes), size, path);
    if (::fsync(fd) != 0) throw WriteError(path, errno);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) throw WriteError(path, errno);
  RenameOver(tmp, path);
  pending.Done();
}

void WriteBytesSafely(const std::string& path, const std::string& bytes) {
  WriteBytesSafely(path, bytes.data(), bytes.size());
}

void WriteFileSafely(const std::string& path, const std::function<void(const std::string& tmp)>& write) {
  temporary_files::CleanStaleOnce(FolderOf(path));
  const std::string tmp = TemporaryPathFor(path);
  temporary_files::Pending pending(tmp);
  write(tmp);
  SyncFile(tmp, path);
  RenameOver(tmp, path);
  pending.Done();
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}
