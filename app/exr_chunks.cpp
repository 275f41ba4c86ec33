#include "app/exr_chunks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace exr_chunks {
namespace {

const uint32_t kMagic = 20000630;
const uint32_t kTiledFlag = 0x200, kNonImageFlag = 0x800, kMultipartFlag = 0x1000;

using Part = PartLayout;

// Reads a file through its descriptor, or bytes held in memory.
class Reader {
 public:
  Reader(int fd, uint64_t size) : fd_(fd), size_(size) {}
  Reader(const char* bytes, uint64_t size) : bytes_(bytes), size_(size) {}
  bool Bytes(void* out, size_t n) {
    if (n > size_ || pos_ > size_ - n) return false;
    if (bytes_)
      std::memcpy(out, bytes_ + pos_, n);
    else if (::pread(fd_, out, n, off_t(pos_)) != ssize_t(n))
      return false;
    pos_ += n;
    return true;
  }
  bool String(std::string& s, size_t max) {
    s.clear();
    for (char c; s.size() <= max;) {
      if (!Bytes(&c, 1)) return false;
      if (!c) return true;
      s += c;
    }
    return false;
  }
  template <typename T>
  bool Value(T& v) {
    return Bytes(&v, sizeof v);  // the format is little-endian, as x86-64 is
  }
  uint64_t pos_ = 0;

 private:
  int fd_ = -1;
  const char* bytes_ = nullptr;
  uint64_t size_;
};

int64_t LinesPerChunk(int compression) {
  switch (compression) {
    case 0: case 1: case 2: return 1;    // none, RLE, ZIPS
    case 3: case 5: return 16;           // ZIP, PXR24
    case 4: case 6: case 7: case 8: return 32;  // PIZ, B44, B44A, DWAA
    case 9: return 256;                  // DWAB
    default: return -1;
  }
}

int64_t LevelSize(int64_t full, int level, int rounding) {
  const int64_t d = int64_t(1) << level;
  const int64_t s = rounding ? (full + d - 1) / d : full / d;
  return s < 1 ? 1 : s;
}

int LevelCount(int64_t full, int rounding) {
  int n = 1;
  while (LevelSize(full, n - 1, rounding) > 1 && n < 63) ++n;
  return n;
}

int64_t TileCount(int64_t w, int64_t h, const Part& p) {
  auto tiles = [&](int64_t lw, int64_t lh) { return ((lw + p.tile_w - 1) / p.tile_w) * ((lh + p.tile_h - 1) / p.tile_h); };
  if (p.level_mode == 0) return tiles(w, h);
  int64_t n = 0;
  if (p.level_mode == 1) {
    const int levels = LevelCount(std::max(w, h), p.rounding);
    for (int l = 0; l < levels; ++l) n += tiles(LevelSize(w, l, p.rounding), LevelSize(h, l, p.rounding));
  } else {
    const int lx = LevelCount(w, p.rounding), ly = LevelCount(h, p.rounding);
    for (int j = 0; j < ly; ++j)
      for (int i = 0; i < lx; ++i) n += tiles(LevelSize(w, i, p.rounding), LevelSize(h, j, p.rounding));
  }
  return n;
}

// The bytes of the attribute types OpenEXR reads at a fixed size; -1 for
// the others.
int32_t FixedSize(const std::string& type) {
  static const std::pair<const char*, int32_t> sizes[] = {
      {"box2i", 16},    {"box2f", 16},     {"chromaticities", 32}, {"compression", 1}, {"double", 8},
      {"envmap", 1},    {"float", 4},      {"int", 4},             {"keycode", 28},    {"lineOrder", 1},
      {"m33f", 36},     {"m33d", 72},      {"m44f", 64},           {"m44d", 128},      {"rational", 8},
      {"tiledesc", 9},  {"timecode", 8},   {"v2i", 8},             {"v2f", 8},         {"v2d", 16},
      {"v3i", 12},      {"v3f", 12},       {"v3d", 24},            {"deepImageState", 1}};
  for (const auto& s : sizes)
    if (type == s.first) return s.second;
  return -1;
}

// Reads one header's attributes; false when the header is malformed.
bool ReadHeader(Reader& r, Part& p, bool long_names, bool& empty) {
  empty = true;
  for (;;) {
    std::string name, type;
    if (!r.String(name, long_names ? 255 : 31)) return false;
    if (name.empty()) return true;
    empty = false;
    int32_t size = 0;
    if (!r.String(type, 255) || !r.Value(size) || size < 0) return false;
    const uint64_t next = r.pos_ + uint64_t(size);
    if (name == "dataWindow" && type == "box2i" && size == 16) {
      int32_t b[4];
      if (!r.Bytes(b, sizeof b)) return false;
      p.x0 = b[0], p.y0 = b[1], p.x1 = b[2], p.y1 = b[3];
    } else if (name == "compression" && size == 1) {
      uint8_t c;
      p.compression_at = r.pos_;
      if (!r.Value(c)) return false;
      p.compression = c;
    } else if (name == "tiles" && type == "tiledesc" && size == 9) {
      uint8_t mode;
      if (!r.Value(p.tile_w) || !r.Value(p.tile_h) || !r.Value(mode)) return false;
      p.tiled = true;
      p.level_mode = mode & 0xf;
      p.rounding = mode >> 4;
    } else if (name == "chunkCount" && size == 4) {
      int32_t n;
      p.chunk_count_at = r.pos_;
      if (!r.Value(n)) return false;
      p.chunk_count = n;
    } else if (const int32_t fixed = FixedSize(type); fixed >= 0 && size != fixed) {
      // OpenEXR reads these types' own size whatever the attribute says.
      return false;
    } else if (type == "stringvector") {
      // Strings each with its length, all inside the attribute.
      while (r.pos_ < next) {
        int32_t length = 0;
        if (!r.Value(length) || length < 0 || r.pos_ + uint64_t(length) > next) return false;
        r.pos_ += uint64_t(length);
      }
    } else if (type == "chlist") {
      // OpenEXR's reader takes channels up to an empty name, whatever the
      // attribute's size says: a list that runs past it would make it read
      // the rest of the header out of step (and allocate what the bytes
      // there claim). Each entry is a name and 16 bytes.
      for (;;) {
        std::string channel;
        if (!r.String(channel, long_names ? 255 : 31) || r.pos_ > next) return false;
        if (channel.empty()) break;
        r.pos_ += 16;
        if (r.pos_ >= next) return false;
      }
      if (r.pos_ != next) return false;
    } else if (type == "preview") {
      // Width and height, then four bytes a pixel, all inside the attribute.
      uint32_t w = 0, h = 0;
      if (size < 8 || !r.Value(w) || !r.Value(h) || uint64_t(w) * h * 4 != uint64_t(size) - 8) return false;
    } else if (name == "type" && type == "string") {
      std::string t(size_t(std::min<int32_t>(size, 64)), '\0');
      if (!r.Bytes(t.data(), t.size())) return false;
      p.tiled = p.tiled || t == "tiledimage" || t == "deeptile";
      p.deep = t.rfind("deep", 0) == 0;
    }
    r.pos_ = next;
  }
}

std::string At(uint64_t v) { return std::to_string(v); }

// The headers and each part's chunk count; empty when they are sound, else
// what is wrong. `r` is left at the first offset table.
std::string Walk(Reader& r, uint64_t size, FileLayout& file) {
  uint32_t magic = 0, version = 0;
  if (!r.Value(magic) || magic != kMagic || !r.Value(version)) return "it is not an OpenEXR file";
  const bool multipart = version & kMultipartFlag;
  file.multipart = multipart;
  std::vector<Part>& parts = file.parts;
  for (;;) {
    Part p;
    p.tiled = !multipart && (version & kTiledFlag);
    p.deep = !multipart && (version & kNonImageFlag);
    bool empty = true;
    if (!ReadHeader(r, p, version & 0x400, empty))
      return "its header is cut short or malformed (the file has " + At(size) + " bytes)";
    if (empty && multipart) break;
    if (empty) return "its header holds no attributes";
    parts.push_back(p);
    if (!multipart) break;
    if (parts.size() > 10000) return "it declares more than 10000 parts";
  }
  // Each part's chunk count, then its offset table right after the headers.
  uint64_t table_bytes = 0;
  file.tables_at = r.pos_;
  for (Part& p : parts) {
    const int64_t w = p.x1 - p.x0 + 1, h = p.y1 - p.y0 + 1;
    if (w <= 0 || h <= 0 || w > (int64_t(1) << 31) || h > (int64_t(1) << 31)) return "its data window is empty or invalid";
    // Larger images are refused anyway; the bound keeps the tile arithmetic in range.
    if (w * h > (int64_t(1) << 31)) return std::to_string(w) + " x " + std::to_string(h) + " is too large";
    int64_t n = p.chunk_count;
    if (n < 0) {
      if (p.tiled) {
        if (p.tile_w == 0 || p.tile_h == 0 || p.level_mode > 2) return "its tile description is invalid";
        // OpenEXR's decoders allocate whole tiles: real ones are a few hundred
        // pixels a side.
        if (uint64_t(p.tile_w) * p.tile_h > (uint64_t(1) << 22)) return "its tiles are too large";
        n = TileCount(w, h, p);
      } else {
        const int64_t lines = LinesPerChunk(p.compression);
        if (lines < 0) return "its compression (" + std::to_string(p.compression) + ") is not one OpenEXR defines";
        n = (h + lines - 1) / lines;
      }
    }
    if (n <= 0) return "its chunk count is invalid";
    p.chunks = n;
    table_bytes += uint64_t(n) * 8;
    if (table_bytes > size) break;
  }
  const uint64_t tables_end = r.pos_ + table_bytes;
  file.tables_end = tables_end;
  if (tables_end > size)
    return "the file ends at byte " + At(size) + ", inside its offset table, which needs " + At(tables_end) +
           " bytes: it is cut short";
  return "";
}

// The headers, then every part's offset table (kept in `file`) and the
// chunks it points to against the file's size.
std::string Check(Reader& r, uint64_t size, FileLayout& file) {
  if (std::string problem = Walk(r, size, file); !problem.empty()) return problem;
  std::vector<Part>& parts = file.parts;
  const bool multipart = file.multipart;
  const uint64_t tables_end = file.tables_end;
  uint64_t table_pos = file.tables_at;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::vector<uint64_t>& offsets = parts[i].offsets;
    offsets.resize(size_t(parts[i].chunks));
    r.pos_ = table_pos;
    table_pos += offsets.size() * 8;
    if (!r.Bytes(offsets.data(), offsets.size() * 8)) return "cannot read its offset table";
    const uint64_t chunk_head = (multipart ? 4 : 0) + (parts[i].tiled ? 16 : 4);
    for (uint64_t o : offsets) {
      if (parts[i].deep) {  // deep chunks carry more size fields; their offsets must still lie in the file
        if (o < tables_end || o >= size) return "the offset table points outside the file: it is cut short";
        continue;
      }
      int32_t data = 0;
      r.pos_ = o + chunk_head;
      if (o < tables_end || !r.Value(data) || data < 0 || r.pos_ + uint64_t(data) > size)
        return "the file ends at byte " + At(size) + " but its offset table points to chunk data beyond it: it is cut short";
    }
  }
  return "";
}

}  // namespace

bool IsExr(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  uint32_t magic = 0;
  const bool yes = ::pread(fd, &magic, 4, 0) == 4 && magic == kMagic;
  ::close(fd);
  return yes;
}

FileLayout LayoutOf(const char* bytes, size_t size) {
  Reader r(bytes, size);
  FileLayout file;
  if (!Check(r, size, file).empty()) file.parts.clear();
  return file;
}

std::string Problem(const std::string& path, uint64_t file_size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  Reader r(fd, file_size);
  FileLayout file;
  std::string p = Check(r, file_size, file);
  ::close(fd);
  return p;
}

}  // namespace exr_chunks
