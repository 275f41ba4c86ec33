#pragma once
// Small files that claim much more than they hold, written byte by byte.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace hostile {

inline void Put(std::string& s, const void* p, size_t n) { s.append(static_cast<const char*>(p), n); }
template <typename T>
inline void Put(std::string& s, T v) {
  Put(s, &v, sizeof v);
}
inline void Attribute(std::string& s, const char* name, const char* type, const std::string& value) {
  s += name;
  s += '\0';
  s += type;
  s += '\0';
  Put(s, int32_t(value.size()));
  s += value;
}

// A single-part scanline OpenEXR header of w x h half RGBA pixels.
inline std::string ExrHeader(int w, int h, uint8_t compression = 3) {
  std::string s;
  Put(s, uint32_t(20000630));
  Put(s, uint32_t(2));
  std::string channels;
  for (const char* c : {"A", "B", "G", "R"}) {
    channels += c;
    channels += '\0';
    Put(channels, int32_t(1));  // half
    Put(channels, uint32_t(0));  // pLinear and reserved
    Put(channels, int32_t(1));
    Put(channels, int32_t(1));
  }
  channels += '\0';
  Attribute(s, "channels", "chlist", channels);
  Attribute(s, "compression", "compression", std::string(1, char(compression)));
  std::string box;
  for (int32_t v : {0, 0, w - 1, h - 1}) Put(box, v);
  Attribute(s, "dataWindow", "box2i", box);
  Attribute(s, "displayWindow", "box2i", box);
  Attribute(s, "lineOrder", "lineOrder", std::string(1, '\0'));
  std::string one;
  Put(one, 1.0f);
  Attribute(s, "pixelAspectRatio", "float", one);
  Attribute(s, "screenWindowCenter", "v2f", std::string(8, '\0'));
  Attribute(s, "screenWindowWidth", "float", one);
  s += '\0';
  return s;
}

// The header, then an offset table pointing at `chunks` chunks of 8 bytes
// each (ZIP: 16 lines a chunk): a file whose every chunk is in place, so
// only its size can refuse it.
inline std::string ExrWithTinyChunks(int w, int h) {
  std::string s = ExrHeader(w, h, 3);
  const int chunks = (h + 15) / 16;
  uint64_t at = s.size() + uint64_t(chunks) * 8;
  for (int c = 0; c < chunks; ++c, at += 16) Put(s, at);
  for (int c = 0; c < chunks; ++c) {
    Put(s, int32_t(c * 16));
    Put(s, int32_t(8));
    Put(s, uint64_t(0));
  }
  return s;
}

inline void Save(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace hostile
