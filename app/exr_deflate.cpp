#include "app/exr_deflate.h"

#include <libdeflate.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

#include "app/exr_chunks.h"

namespace exr_deflate {
namespace {

using Compressor = std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)>;

// A libdeflate compressor per thread and level (they are not shareable).
libdeflate_compressor* CompressorFor(int level) {
  static tbb::enumerable_thread_specific<std::map<int, Compressor>> compressors;
  auto& mine = compressors.local();
  auto it = mine.find(level);
  if (it == mine.end()) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    if (!c) throw std::bad_alloc();
    it = mine.emplace(level, Compressor(c, &libdeflate_free_compressor)).first;
  }
  return it->second.get();
}

// A zip chunk's data: the bytes split into their even and odd halves, each
// byte stored as its difference from the one before (plus 128), deflated in
// a zlib stream. Raw when deflating does not make it smaller, as readers
// expect.
std::vector<char> ZipData(const std::vector<char>& raw, int level) {
  const size_t n = raw.size();
  std::vector<unsigned char> t(n);
  const size_t half = (n + 1) / 2;
  for (size_t i = 0; i < n; ++i) t[(i & 1) ? half + i / 2 : i / 2] = static_cast<unsigned char>(raw[i]);
  for (size_t i = n; i-- > 1;) t[i] = static_cast<unsigned char>(int(t[i]) - int(t[i - 1]) + 128);
  libdeflate_compressor* c = CompressorFor(level);
  std::vector<char> out(libdeflate_zlib_compress_bound(c, n));
  const size_t packed = libdeflate_zlib_compress(c, t.data(), n, out.data(), out.size());
  if (packed == 0 || packed >= n) return raw;
  out.resize(packed);
  return out;
}

template <typename T>
T Load(const std::vector<char>& bytes, uint64_t at) {
  T v;
  if (at + sizeof v > bytes.size()) throw std::logic_error("exr_deflate: a chunk lies past the file's end");
  std::memcpy(&v, bytes.data() + at, sizeof v);
  return v;
}

template <typename T>
void Put(std::vector<char>& out, T v) {
  const char* p = reinterpret_cast<const char*>(&v);
  out.insert(out.end(), p, p + sizeof v);
}

// One chunk of the output: a whole chunk copied, or lines to zip.
struct Block {
  size_t part = 0;
  uint64_t copy_at = 0, copy_size = 0;  // copied bytes, when `lines` is 0
  int64_t first = 0, lines = 0;         // the input's one-line chunks to zip
  std::vector<char> out;                // a zipped chunk, finished
};

}  // namespace

void CompressParts(std::vector<char>& bytes, const std::vector<PartCompression>& parts) {
  bool any = false;
  for (const PartCompression& p : parts) any = any || p.compression != PartCompression::kAsWritten;
  if (!any) return;
  const exr_chunks::FileLayout file = exr_chunks::LayoutOf(bytes.data(), bytes.size());
  if (file.parts.size() != parts.size()) throw std::logic_error("exr_deflate: the written file's parts differ");
  const uint64_t part_field = file.multipart ? 4 : 0;

  std::vector<Block> blocks;
  for (size_t p = 0; p < parts.size(); ++p) {
    const exr_chunks::PartLayout& layout = file.parts[p];
    const int want = parts[p].compression;
    if (want == PartCompression::kAsWritten) {
      if (layout.tiled || layout.deep) throw std::logic_error("exr_deflate: only scanline parts are copied");
      for (uint64_t o : layout.offsets) {
        const uint64_t head = part_field + 8;
        blocks.push_back({p, o, head + uint64_t(Load<int32_t>(bytes, o + head - 4)), 0, 0, {}});
      }
      continue;
    }
    if (layout.compression != 0 || layout.tiled || layout.deep)
      throw std::logic_error("exr_deflate: a part to zip was not written as uncompressed scanlines");
    const int64_t height = layout.y1 - layout.y0 + 1, per_block = want == PartCompression::kZip ? 16 : 1;
    for (int64_t first = 0; first < height; first += per_block)
      blocks.push_back({p, 0, 0, first, std::min(per_block, height - first), {}});
  }

  tbb::parallel_for(size_t(0), blocks.size(), [&](size_t b) {
    Block& block = blocks[b];
    if (block.lines == 0) return;  // copied as it is below
    const exr_chunks::PartLayout& layout = file.parts[block.part];
    std::vector<char> raw;
    const int32_t line_size = Load<int32_t>(bytes, layout.offsets[size_t(block.first)] + part_field + 4);
    if (line_size > 0 && uint64_t(line_size) <= bytes.size()) raw.reserve(size_t(block.lines) * size_t(line_size));
    for (int64_t i = block.first; i < block.first + block.lines; ++i) {
      const uint64_t o = layout.offsets[size_t(i)];
      const int32_t y = Load<int32_t>(bytes, o + part_field), size = Load<int32_t>(bytes, o + part_field + 4);
      if (y != layout.y0 + i || size < 0 || o + part_field + 8 + uint64_t(size) > bytes.size())
        throw std::logic_error("exr_deflate: an uncompressed chunk is not the line expected");
      const char* data = bytes.data() + o + part_field + 8;
      raw.insert(raw.end(), data, data + size);
    }
    const std::vector<char> data = ZipData(raw, parts[block.part].level);
    if (file.multipart) Put(block.out, int32_t(block.part));
    Put(block.out, int32_t(layout.y0 + block.first));
    Put(block.out, int32_t(data.size()));
    block.out.insert(block.out.end(), data.begin(), data.end());
  });

  // Headers as written (the compression and chunk counts patched), the new
  // offset tables, then the chunks in order.
  std::vector<char> out(bytes.begin(), bytes.begin() + ptrdiff_t(file.tables_at));
  std::vector<int64_t> counts(parts.size(), 0);
  for (const Block& b : blocks) ++counts[b.part];
  for (size_t p = 0; p < parts.size(); ++p) {
    if (parts[p].compression == PartCompression::kAsWritten) continue;
    out[file.parts[p].compression_at] = char(parts[p].compression);
    if (file.parts[p].chunk_count_at) {
      const int32_t n = int32_t(counts[p]);
      std::memcpy(out.data() + file.parts[p].chunk_count_at, &n, sizeof n);
    }
  }
  auto size_of = [](const Block& b) { return b.lines == 0 ? b.copy_size : uint64_t(b.out.size()); };
  uint64_t at = file.tables_at + 8 * blocks.size(), total = at;
  for (const Block& b : blocks) total += size_of(b);
  out.reserve(total);
  for (const Block& b : blocks) {
    Put(out, at);
    at += size_of(b);
  }
  for (Block& b : blocks) {
    if (b.lines == 0) {
      out.insert(out.end(), bytes.begin() + ptrdiff_t(b.copy_at), bytes.begin() + ptrdiff_t(b.copy_at + b.copy_size));
    } else {
      out.insert(out.end(), b.out.begin(), b.out.end());
      std::vector<char>().swap(b.out);
    }
  }
  bytes.swap(out);
}

}  // namespace exr_deflate
