#pragma once
#include <cstdint>
#include <string>
#include <vector>

// An OpenEXR file's headers and offset tables read on their own, before any
// decoder allocates the image its header describes: a file whose offset
// tables or chunks lie beyond its end (cut short by a full disk or a broken
// copy) is told apart from a whole one at the cost of reading the tables.
namespace exr_chunks {

// One part's header fields that its chunks follow from, and where two of
// them lie in the file (byte offsets).
struct PartLayout {
  int64_t x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // dataWindow
  int compression = 0;
  bool tiled = false, deep = false;
  uint32_t tile_w = 0, tile_h = 0;
  int level_mode = 0, rounding = 0;
  int64_t chunk_count = -1;     // the "chunkCount" attribute, when given
  uint64_t compression_at = 0;  // the "compression" attribute's value
  uint64_t chunk_count_at = 0;  // the "chunkCount" attribute's value; 0 when absent
  int64_t chunks = 0;           // entries in its offset table
  std::vector<uint64_t> offsets;  // the table (LayoutOf fills it)
};

struct FileLayout {
  bool multipart = false;
  std::vector<PartLayout> parts;  // empty when the headers are malformed
  uint64_t tables_at = 0;         // the first part's offset table, right after the headers
  uint64_t tables_end = 0;        // where the tables end and the chunks begin
};

// The headers and offset tables of an OpenEXR file held in memory, every
// chunk checked to lie inside it.
FileLayout LayoutOf(const char* bytes, size_t size);

// True when the file starts with the OpenEXR magic number.
bool IsExr(const std::string& path);

// Empty when every part's offset table and every chunk it points to lie
// inside the file's `file_size` bytes; else what is wrong ("the file ends at
// byte 10240 but its offset table points to data up to byte 86016").
std::string Problem(const std::string& path, uint64_t file_size);

}  // namespace exr_chunks
