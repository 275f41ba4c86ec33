#include "app/exr_file.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfCompressionAttribute.h>
#include <OpenEXR/ImfDoubleAttribute.h>
#include <OpenEXR/ImfFloatAttribute.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfInputPart.h>
#include <OpenEXR/ImfIntAttribute.h>
#include <OpenEXR/ImfMultiPartInputFile.h>
#include <OpenEXR/ImfMultiPartOutputFile.h>
#include <OpenEXR/ImfOutputPart.h>
#include <OpenEXR/ImfPartType.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <OpenEXR/ImfThreading.h>
#include <OpenEXR/ImfTiledInputPart.h>

#include <Imath/half.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "app/exr_core_reader.h"
#include "app/exr_deflate.h"
#include "app/input_rules.h"
#include "app/usage_error.h"

namespace exr_file {

struct StoredChannel {
  std::string file_name;   // its name inside its part
  std::string image_name;  // its name in FileImage (part-prefixed in later parts)
  Imf::PixelType type;
  int plane = -1;                // FileImage plane when the image shows it
  LargeVector<float> floats;     // its samples when it does not (half, float)
  LargeVector<uint32_t> uints;   // a uint channel's exact samples
};

struct StoredPart {
  Imf::Header header;
  std::vector<StoredChannel> channels;
};

struct Layout {
  std::vector<StoredPart> parts;
};

namespace {

std::atomic<bool> g_threads_set{false};

void EnsureThreads() {
  if (!g_threads_set.load()) SetThreads(0);
}

const std::pair<const char*, Imf::Compression> kCompressions[] = {
    {"none", Imf::NO_COMPRESSION},   {"rle", Imf::RLE_COMPRESSION},     {"zips", Imf::ZIPS_COMPRESSION},
    {"zip", Imf::ZIP_COMPRESSION},   {"piz", Imf::PIZ_COMPRESSION},     {"pxr24", Imf::PXR24_COMPRESSION},
    {"b44", Imf::B44_COMPRESSION},   {"b44a", Imf::B44A_COMPRESSION},   {"dwaa", Imf::DWAA_COMPRESSION},
    {"dwab", Imf::DWAB_COMPRESSION},
};

Imf::Compression CompressionNamed(const std::string& name) {
  for (const auto& [n, c] : kCompressions)
    if (name == n) return c;
  throw UsageError("--compression " + name + ": not one of none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa, dwab");
}

int WidthOf(const Imath::Box2i& w) { return w.max.x - w.min.x + 1; }
int HeightOf(const Imath::Box2i& w) { return w.max.y - w.min.y + 1; }

bool IsTiled(const Imf::Header& h) {
  return h.hasType() ? Imf::isTiled(h.type()) : h.hasTileDescription();
}

// Encoded bytes gathered in memory; the caller writes them with checked writes.
class MemoryStream : public Imf::OStream {
 public:
  explicit MemoryStream(std::vector<char>& bytes) : Imf::OStream("memory"), bytes_(bytes) {}
  void write(const char c[], int n) override {
    if (pos_ + uint64_t(n) > bytes_.size()) bytes_.resize(pos_ + uint64_t(n));
    std::memcpy(bytes_.data() + pos_, c, size_t(n));
    pos_ += uint64_t(n);
  }
  uint64_t tellp() override { return pos_; }
  void seekp(uint64_t pos) override { pos_ = pos; }

 private:
  std::vector<char>& bytes_;
  uint64_t pos_ = 0;
};

// The core library of OpenEXR 3.1 decodes these faster than the C++ reader;
// its PIZ is slower, and it lacks DWA and mis-decodes some B44 parts
// (found by the tests of every codec), so those stay with the C++ reader.
bool CoreDecodesWell(Imf::Compression c) {
  return c == Imf::NO_COMPRESSION || c == Imf::RLE_COMPRESSION || c == Imf::ZIPS_COMPRESSION ||
         c == Imf::ZIP_COMPRESSION;
}

FileImage ReadUnchecked(const std::string& path, const std::function<void(int, int, int64_t)>& check) {
  EnsureThreads();
  Imf::MultiPartInputFile in(path.c_str(), Imf::globalThreadCount());
  const int parts = in.parts();
  const Imath::Box2i first = in.header(0).dataWindow();
  const int width = WidthOf(first), height = HeightOf(first);
  int64_t channels = 0, other_samples = 0;
  for (int p = 0; p < parts; ++p) {
    const Imf::Header& h = in.header(p);
    if (h.hasType() && Imf::isDeepData(h.type())) throw UsageError("cannot read " + path + ": deep images are not supported");
    const Imath::Box2i dw = h.dataWindow();
    if (WidthOf(dw) <= 0 || HeightOf(dw) <= 0 || h.channels().begin() == h.channels().end())
      throw UsageError("cannot read " + path + ": its header describes an empty image");
    if (int64_t(WidthOf(dw)) * HeightOf(dw) > (int64_t(1) << 31))
      throw UsageError("cannot read " + path + ": " + std::to_string(WidthOf(dw)) + " x " +
                       std::to_string(HeightOf(dw)) + " is too large");
    int64_t n = 0;
    for (auto c = h.channels().begin(); c != h.channels().end(); ++c) ++n;
    if (WidthOf(dw) == width && HeightOf(dw) == height)
      channels += n;
    else
      other_samples += n * WidthOf(dw) * HeightOf(dw);
  }
  // Parts of another size are kept too: count them as the frame's channels they equal.
  check(width, height, channels + (other_samples + int64_t(width) * height - 1) / (int64_t(width) * height));

  FileImage img;
  img.path = path;
  img.width = width;
  img.height = height;
  auto layout = std::make_shared<Layout>();
  std::unique_ptr<ExrCoreReader> core;
  for (int p = 0; p < parts; ++p) {
    const Imf::Header& h = in.header(p);
    const Imath::Box2i dw = h.dataWindow();
    const size_t count = size_t(WidthOf(dw)) * size_t(HeightOf(dw));
    const bool shown = WidthOf(dw) == width && HeightOf(dw) == height;
    const std::string part_name = h.hasName() ? h.name() : "";
    StoredPart part{h, {}};
    // The file lists channels by name; colour comes first, as artists read it.
    std::vector<Imf::ChannelList::ConstIterator> listed;
    for (auto c = h.channels().begin(); c != h.channels().end(); ++c) listed.push_back(c);
    auto rank = [](const char* n) {
      const std::string s = n;
      return s == "R" ? 0 : s == "G" ? 1 : s == "B" ? 2 : s == "A" ? 3 : 4;
    };
    std::stable_sort(listed.begin(), listed.end(), [&](auto a, auto b) { return rank(a.name()) < rank(b.name()); });
    for (const auto& c : listed) {
      if (c.channel().xSampling != 1 || c.channel().ySampling != 1)
        throw UsageError("cannot read " + path + ": channel " + c.name() + " is subsampled, which is not supported");
      StoredChannel sc;
      sc.file_name = c.name();
      sc.type = c.channel().type;
      sc.image_name = sc.file_name;
      if (p > 0 && !part_name.empty() && sc.image_name.find('.') == std::string::npos)
        sc.image_name = part_name + "." + sc.image_name;
      // The first part's channel of a name is the one the image shows.
      if (shown && img.Index(sc.image_name) < 0) {
        sc.plane = int(img.names.size());
        img.names.push_back(sc.image_name);
        img.types.push_back(sc.type == Imf::HALF ? SampleType::Half
                            : sc.type == Imf::UINT ? SampleType::Uint
                                                   : SampleType::Float);
        img.planes.emplace_back(count);
      }
      part.channels.push_back(std::move(sc));
    }
    Imf::FrameBuffer frame;
    std::map<std::string, ExrCoreReader::Target> targets;
    for (StoredChannel& sc : part.channels) {
      if (sc.type == Imf::UINT) {
        sc.uints.resize(count);
        frame.insert(sc.file_name, Imf::Slice::Make(Imf::UINT, sc.uints.data(), dw));
        targets[sc.file_name] = {sc.uints.data(), EXR_PIXEL_UINT};
        continue;
      }
      if (sc.plane < 0) sc.floats.resize(count);
      float* to = sc.plane >= 0 ? img.planes[size_t(sc.plane)].data() : sc.floats.data();
      frame.insert(sc.file_name, Imf::Slice::Make(Imf::FLOAT, to, dw));
      targets[sc.file_name] = {to, EXR_PIXEL_FLOAT};
    }
    if (IsTiled(h)) {
      Imf::TiledInputPart tiles(in, p);
      tiles.setFrameBuffer(frame);
      tiles.readTiles(0, tiles.numXTiles(0) - 1, 0, tiles.numYTiles(0) - 1, 0, 0);
    } else if (CoreDecodesWell(h.compression())) {
      if (!core) core = std::make_unique<ExrCoreReader>(path);
      core->DecodeScanlines(p, dw, targets);
    } else {
      Imf::InputPart lines(in, p);
      lines.setFrameBuffer(frame);
      lines.readPixels(dw.min.y, dw.max.y);
    }
    // The image's plane of a uint channel holds its values as floats.
    for (StoredChannel& sc : part.channels)
      if (sc.type == Imf::UINT && sc.plane >= 0)
        std::transform(sc.uints.begin(), sc.uints.end(), img.planes[size_t(sc.plane)].begin(),
                       [](uint32_t v) { return float(v); });
    layout->parts.push_back(std::move(part));
  }
  if (img.names.empty()) throw UsageError("cannot read " + path + ": it holds no channels");
  img.exr = layout;
  return img;
}

const StoredChannel* FindShown(const Layout& layout, const std::string& image_name, int* part_index = nullptr) {
  for (size_t p = 0; p < layout.parts.size(); ++p)
    for (const StoredChannel& sc : layout.parts[p].channels)
      if (sc.plane >= 0 && sc.image_name == image_name) {
        if (part_index) *part_index = int(p);
        return &sc;
      }
  return nullptr;
}

struct SliceToWrite {
  std::string name;
  Imf::PixelType file_type;
  Imf::PixelType memory_type;  // FLOAT, or UINT for exact samples
  const void* data;
};

Imf::PixelType FileType(SampleType t) {
  return t == SampleType::Half ? Imf::HALF : t == SampleType::Uint ? Imf::UINT : Imf::FLOAT;
}

// The part headers written: the input's, tiled ones made scanline, with the
// channel list rebuilt from what is written.
Imf::Header OutputHeader(const Imf::Header& in) {
  // Copied attribute by attribute: Header::erase of OpenEXR 3.1 loses the
  // attribute it takes out (a leak the sanitizers report).
  const bool tiled = IsTiled(in);
  Imf::Header h;
  for (auto a = in.begin(); a != in.end(); ++a) {
    const std::string name = a.name();
    if (name == "chunkCount" || (tiled && name == "tiles")) continue;  // the writer counts its own chunks
    h.insert(name, a.attribute());
  }
  if (tiled) {
    if (h.hasType()) h.setType(Imf::SCANLINEIMAGE);
    if (h.lineOrder() == Imf::RANDOM_Y) h.lineOrder() = Imf::INCREASING_Y;
  }
  h.channels() = Imf::ChannelList();
  return h;
}

}  // namespace

void SetThreads(int threads) {
  const int n = threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency()));
  Imf::setGlobalThreadCount(n);
  g_threads_set.store(true);
}

FileImage Read(const std::string& path, const std::function<void(int, int, int64_t)>& check) {
  try {
    return ReadUnchecked(path, check);
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    throw UsageError("cannot read " + path + ": " + e.what());
  }
}

const uint32_t* ExactSamples(const FileImage& file, const std::string& name) {
  if (!file.exr) return nullptr;
  const StoredChannel* sc = FindShown(*file.exr, name);
  return sc && sc->type == Imf::UINT ? sc->uints.data() : nullptr;
}

std::vector<char> Encode(int width, int height, const std::vector<OutChannel>& channels, const FileImage* source,
                         const std::string& red_name, const WriteSettings& settings) {
  EnsureThreads();
  const Layout* layout = source && source->exr && source->width == width && source->height == height
                             ? source->exr.get()
                             : nullptr;
  std::vector<Imf::Header> headers;
  std::vector<std::vector<SliceToWrite>> slices;
  std::vector<bool> used(channels.size(), false);
  auto slice_of = [](const std::string& file_name, const OutChannel& c) {
    if (c.exact && c.type == SampleType::Uint) return SliceToWrite{file_name, Imf::UINT, Imf::UINT, c.exact};
    return SliceToWrite{file_name, FileType(c.type), Imf::FLOAT, c.data};
  };
  int main_part = 0;
  if (layout) {
    if (!red_name.empty()) FindShown(*layout, red_name, &main_part);
    for (const StoredPart& part : layout->parts) {
      headers.push_back(OutputHeader(part.header));
      slices.emplace_back();
      for (const StoredChannel& sc : part.channels) {
        // The image's channel of this name replaces the input's samples.
        auto out = sc.plane < 0 ? channels.end()
                                : std::find_if(channels.begin(), channels.end(),
                                               [&](const OutChannel& c) { return c.name == sc.image_name; });
        if (out != channels.end()) {
          used[size_t(out - channels.begin())] = true;
          slices.back().push_back(slice_of(sc.file_name, *out));
        } else if (sc.type == Imf::UINT) {
          slices.back().push_back({sc.file_name, Imf::UINT, Imf::UINT, sc.uints.data()});
        } else {
          const float* data = sc.plane >= 0 ? source->planes[size_t(sc.plane)].data() : sc.floats.data();
          slices.back().push_back({sc.file_name, sc.type, Imf::FLOAT, data});
        }
      }
    }
  } else {
    headers.emplace_back(width, height);
    headers.back().compression() = Imf::ZIP_COMPRESSION;
    headers.back().setType(Imf::SCANLINEIMAGE);  // the parts writer asks every header for its type
    slices.emplace_back();
  }
  // Channels the input did not have join the part that holds its colour.
  std::vector<SliceToWrite>& main = slices[size_t(main_part)];
  for (size_t c = 0; c < channels.size(); ++c) {
    if (used[c]) continue;
    std::string name = channels[c].name;
    auto taken = [&](const std::string& n) {
      return std::any_of(main.begin(), main.end(), [&](const SliceToWrite& s) { return s.name == n; });
    };
    for (int k = 2; taken(name); ++k) name = channels[c].name + "_" + std::to_string(k);
    main.push_back(slice_of(name, channels[c]));
  }
  if (!settings.compression.empty()) {
    const Imf::Compression chosen = CompressionNamed(settings.compression);
    for (Imf::Header& h : headers) h.compression() = chosen;
  }
  // OpenEXR writes zip and zips parts uncompressed; libdeflate compresses them after.
  std::vector<exr_deflate::PartCompression> deflate(headers.size());
  for (size_t p = 0; p < headers.size(); ++p) {
    const Imf::Compression c = headers[p].compression();
    if (c != Imf::ZIP_COMPRESSION && c != Imf::ZIPS_COMPRESSION) continue;
    deflate[p] = {c == Imf::ZIP_COMPRESSION ? exr_deflate::PartCompression::kZip : exr_deflate::PartCompression::kZips,
                  headers[p].zipCompressionLevel()};
    headers[p].compression() = Imf::NO_COMPRESSION;
  }
  for (const auto& [name, value] : settings.attributes)
    headers[0].insert(name, Imf::StringAttribute(value));
  for (size_t p = 0; p < headers.size(); ++p)
    for (const SliceToWrite& s : slices[p]) headers[p].channels().insert(s.name, Imf::Channel(s.file_type));

  // The writer takes each channel in its file type: convert those held as floats.
  std::vector<LargeVector<uint32_t>> converted;
  for (size_t p = 0; p < headers.size(); ++p) {
    const Imath::Box2i dw = headers[p].dataWindow();
    const size_t count = size_t(WidthOf(dw)) * size_t(HeightOf(dw));
    for (SliceToWrite& s : slices[p]) {
      if (s.memory_type == s.file_type) continue;
      const float* from = static_cast<const float*>(s.data);
      converted.emplace_back(s.file_type == Imf::HALF ? (count + 1) / 2 : count);  // two halves a word
      if (s.file_type == Imf::HALF) {
        auto* to = reinterpret_cast<uint16_t*>(converted.back().data());
        tbb::parallel_for(tbb::blocked_range<size_t>(0, count, 1 << 16), [&](const tbb::blocked_range<size_t>& r) {
          for (size_t i = r.begin(); i < r.end(); ++i) to[i] = Imath::half(from[i]).bits();
        });
      } else {
        uint32_t* to = converted.back().data();
        for (size_t i = 0; i < count; ++i)
          to[i] = !(from[i] > 0.0f) ? 0u : from[i] >= 4294967295.0f ? 4294967295u : uint32_t(from[i] + 0.5f);
      }
      s.memory_type = s.file_type;
      s.data = converted.back().data();
    }
  }

  // Room for the uncompressed file at once (pixels, each line's chunk head
  // and offset, headers), so that it is not copied as it grows.
  std::vector<char> bytes;
  {
    size_t expected = size_t(1) << 16;
    for (size_t p = 0; p < headers.size(); ++p) {
      const Imath::Box2i dw = headers[p].dataWindow();
      size_t line = 0;
      for (const SliceToWrite& s : slices[p]) line += s.file_type == Imf::HALF ? 2 : 4;
      expected += size_t(HeightOf(dw)) * (size_t(WidthOf(dw)) * line + 20);
    }
    bytes.reserve(expected);
  }
  {
    MemoryStream stream(bytes);
    Imf::MultiPartOutputFile file(stream, headers.data(), int(headers.size()), false, Imf::globalThreadCount());
    for (size_t p = 0; p < headers.size(); ++p) {
      const Imath::Box2i dw = headers[p].dataWindow();
      Imf::FrameBuffer frame;
      for (const SliceToWrite& s : slices[p]) frame.insert(s.name, Imf::Slice::Make(s.memory_type, s.data, dw));
      Imf::OutputPart part(file, int(p));
      part.setFrameBuffer(frame);
      part.writePixels(HeightOf(dw));
    }
  }
  exr_deflate::CompressParts(bytes, deflate);
  return bytes;
}

std::vector<HeaderAttribute> Attributes(const FileImage& file) {
  std::vector<HeaderAttribute> out;
  if (!file.exr || file.exr->parts.empty()) return out;
  const Imf::Header& h = file.exr->parts[0].header;
  for (auto a = h.begin(); a != h.end(); ++a) {
    HeaderAttribute v;
    v.name = a.name();
    if (auto* s = dynamic_cast<const Imf::StringAttribute*>(&a.attribute())) {
      v.text = s->value();
    } else if (auto* i = dynamic_cast<const Imf::IntAttribute*>(&a.attribute())) {
      v.kind = HeaderAttribute::Integer;
      v.number = i->value();
    } else if (auto* f = dynamic_cast<const Imf::FloatAttribute*>(&a.attribute())) {
      v.kind = HeaderAttribute::Real;
      v.number = f->value();
    } else if (auto* d = dynamic_cast<const Imf::DoubleAttribute*>(&a.attribute())) {
      v.kind = HeaderAttribute::Real;
      v.number = d->value();
    } else if (auto* c = dynamic_cast<const Imf::CompressionAttribute*>(&a.attribute())) {
      for (const auto& [n, value] : kCompressions)
        if (value == c->value()) v.text = n;
    } else {
      continue;  // windows, channel lists, matrices: not texts or numbers
    }
    out.push_back(std::move(v));
  }
  return out;
}

const std::vector<std::string>& CompressionNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const auto& c : kCompressions) n.push_back(c.first);
    return n;
  }();
  return names;
}

}  // namespace exr_file
