#include "app/image_io.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

#include <OpenImageIO/filesystem.h>

#include "app/channel_names.h"
#include "app/exr_chunks.h"
#include "app/input_rules.h"
#include "app/png_chunks.h"
#include "app/safe_write.h"
#include "app/usage_error.h"

namespace fs = std::filesystem;

namespace {

const float kHalfMax = 65504.0f;

float SrgbToLinear(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }
float LinearToSrgb(float v) {
  if (!(v > 0.0f)) return 0.0f;
  if (v >= 1.0f) return 1.0f;
  return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsDisplayFormat(const std::string& path) {
  const std::string ext = Lower(std::filesystem::path(path).extension().string());
  return ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".bmp" || ext == ".gif" || ext == ".tga" ||
         ext == ".webp" || ext == ".ppm" || ext == ".pnm";
}

bool IsExr(const std::string& path) { return Lower(std::filesystem::path(path).extension().string()) == ".exr"; }

}  // namespace

int FileImage::Index(const std::string& name) const {
  auto it = std::find(names.begin(), names.end(), name);
  return it == names.end() ? -1 : int(it - names.begin());
}

std::string FileImage::ChannelList() const {
  std::string s;
  for (auto& n : names) s += (s.empty() ? "" : ", ") + n;
  return s.empty() ? "(none)" : s;
}

FileImage ReadImageFile(const std::string& path) { return ReadImageFile(path, input_rules::DefaultMaxMemory()); }

FileImage ReadImageFile(const std::string& path, uint64_t max_memory) {
  const uint64_t file_size = input_rules::CheckReadable(path);
  // The reader is the one the content names, never a guess among all formats.
  const std::string format = input_rules::ImageFormatOf(path);
  if (format.empty())
    throw UsageError("cannot read " + path + ": it is not an image of a format the command reads (" +
                     input_rules::ReadableFormats() + ")");
  // Files whose readers allocate what a header claims are walked first.
  const std::string problem = format == "openexr" ? exr_chunks::Problem(path, file_size)
                              : format == "png"   ? png_chunks::Problem(path, file_size)
                                                  : "";
  if (!problem.empty()) throw UsageError("cannot read " + path + ": " + problem);
  auto in = OIIO::ImageInput::create(format);
  OIIO::ImageSpec header;
  if (!in || !in->open(path, header))
    throw UsageError("cannot read " + path + ": " + (in ? in->geterror() : OIIO::geterror()));
  // The parts the tool uses (those of the first part's size), judged from
  // their headers before any pixel is read.
  std::vector<std::pair<int, OIIO::ImageSpec>> parts;
  int64_t channels = 0;
  OIIO::ImageSpec layout;  // each part's size, channels and attributes
  for (int sub = 0; in->seek_subimage(sub, 0, layout); ++sub) {
    if (sub > 0 && (layout.width != parts[0].second.width || layout.height != parts[0].second.height))
      continue;  // parts of another size (thumbnails, crops) carry nothing the tool can use
    if (layout.deep) throw UsageError("cannot read " + path + ": deep images are not supported");
    if (layout.width <= 0 || layout.height <= 0 || layout.nchannels <= 0)
      throw UsageError("cannot read " + path + ": its header describes an empty image");
    if (int64_t(layout.width) * layout.height > (int64_t(1) << 31))
      throw UsageError("cannot read " + path + ": " + std::to_string(layout.width) + " x " +
                       std::to_string(layout.height) + " is too large");
    channels += layout.nchannels;
    parts.emplace_back(sub, layout);
  }
  if (parts.empty()) throw UsageError("cannot read " + path + ": " + in->geterror());
  const int width = parts[0].second.width, height = parts[0].second.height;
  const uint64_t need = input_rules::FrameMemoryEstimate(width, height, channels);
  if (need > max_memory)
    throw UsageError("cannot read " + path + ": a " + std::to_string(width) + " x " + std::to_string(height) +
                     " frame of " + std::to_string(channels) + " channels needs about " +
                     input_rules::FormatMemorySize(need) + " to render, more than --max-memory " +
                     input_rules::FormatMemorySize(max_memory));
  FileImage img;
  img.path = path;
  img.width = width;
  img.height = height;
  img.display_encoded = parts[0].second.format.basetype == OIIO::TypeDesc::UINT8 &&
                        Lower(parts[0].second.get_string_attribute("oiio:ColorSpace")) == "srgb";
  for (const auto& [sub, layout] : parts) {
    const int n = layout.nchannels;
    LargeVector<float> pixels(size_t(width) * size_t(height) * size_t(n));
    if (!in->read_image(sub, 0, 0, n, OIIO::TypeDesc::FLOAT, pixels.data()))
      throw UsageError("cannot read " + path + ": " + in->geterror());
    const std::string part = layout.get_string_attribute("oiio:subimagename");
    std::vector<std::pair<size_t, float*>> kept;  // file channel, its plane
    for (int c = 0; c < n; ++c) {
      std::string name = c < int(layout.channelnames.size()) ? layout.channelnames[c] : "channel" + std::to_string(c);
      if (sub > 0 && !part.empty() && name.find('.') == std::string::npos) name = part + "." + name;
      if (img.Index(name) >= 0) continue;  // the first part's channel of a name wins
      img.names.push_back(name);
      img.types.push_back(layout.channelformat(c));
      img.planes.emplace_back(size_t(width) * size_t(height));
      kept.push_back({size_t(c), nullptr});
    }
    for (size_t k = 0; k < kept.size(); ++k) kept[k].second = img.planes[img.planes.size() - kept.size() + k].data();
    // One pass over the interleaved pixels fills every plane.
    const size_t count = size_t(width) * size_t(height);
    for (size_t i = 0; i < count; ++i) {
      const float* px = pixels.data() + i * size_t(n);
      for (const auto& kp : kept) kp.second[i] = px[kp.first];
    }
  }
  if (img.names.empty()) throw UsageError("cannot read " + path + ": it holds no channels");
  return img;
}

namespace {

Image* MakeImage(const FileImage& file, const std::map<std::string, std::string>& mapped, ChannelPick& pick,
                 bool colour_needed) {
  for (auto& m : mapped)
    if (file.Index(m.second) < 0)
      throw UsageError(file.path + ": channel \"" + m.second + "\" (mapped to " + m.first +
                       ") is not there; it has " + file.ChannelList());
  pick.role_to_name.clear();
  for (const std::string& role : channel_names::Roles()) {
    std::string name = channel_names::Find(file.names, role, mapped);
    if (!name.empty()) pick.role_to_name[role] = name;
  }
  for (const char* role : {"R", "G", "B"})
    if (colour_needed && !pick.role_to_name.count(role))
      throw UsageError(file.path + ": no " + std::string(role) + " channel found (it has " + file.ChannelList() +
                       "); map one with --channels " + role + "=NAME");
  const bool z = pick.role_to_name.count("Z") > 0;
  const bool vec = pick.role_to_name.count("VectX") && pick.role_to_name.count("VectY");
  if (!vec) {
    pick.role_to_name.erase("VectX");
    pick.role_to_name.erase("VectY");
  }
  Image* img = new Image(file.width, file.height, z, vec);
  const int chans[] = {CHAN_RED, CHAN_GREEN, CHAN_BLUE, CHAN_ALPHA, CHAN_Z, CHAN_VECTX, CHAN_VECTY};
  const auto& roles = channel_names::Roles();
  for (size_t r = 0; r < roles.size(); ++r) {
    float* plane = img->Plane(chans[r]);
    auto it = pick.role_to_name.find(roles[r]);
    if (!plane) continue;
    if (it == pick.role_to_name.end()) {
      std::fill(plane, plane + size_t(file.width) * file.height, roles[r] == "A" ? 1.0f : 0.0f);
      continue;
    }
    const LargeVector<float>& src = file.planes[size_t(file.Index(it->second))];
    const bool colour = r < 3 && file.display_encoded;
    for (size_t i = 0; i < src.size(); ++i) plane[i] = colour ? SrgbToLinear(src[i]) : src[i];
  }
  // Display files carry straight alpha; the tool works on premultiplied colour.
  if (file.display_encoded && pick.role_to_name.count("A")) {
    float* a = img->Plane(CHAN_ALPHA);
    for (int c : {CHAN_RED, CHAN_GREEN, CHAN_BLUE}) {
      float* p = img->Plane(c);
      for (size_t i = 0; i < size_t(file.width) * file.height; ++i) p[i] *= a[i];
    }
  }
  for (size_t c = 0; c < file.names.size(); ++c) {
    bool used = false;
    for (auto& rn : pick.role_to_name) used = used || rn.second == file.names[c];
    if (!used) img->Extra.push_back({file.names[c], file.planes[c]});
  }
  return img;
}

}  // namespace

Image* MakeHostImage(const FileImage& file, const std::map<std::string, std::string>& mapped, ChannelPick& pick) {
  return MakeImage(file, mapped, pick, true);
}

Image* MakePassImage(const FileImage& file, const std::map<std::string, std::string>& mapped, ChannelPick& pick) {
  return MakeImage(file, mapped, pick, false);
}

namespace {

struct OutChannel {
  std::string name;
  OIIO::TypeDesc type;
  const float* data;
};

OIIO::TypeDesc SourceType(const FileImage* source, const std::string& name) {
  if (!source) return OIIO::TypeDesc::FLOAT;
  int i = source->Index(name);
  if (i < 0) return OIIO::TypeDesc::FLOAT;
  return source->types[size_t(i)] == OIIO::TypeDesc::HALF ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT;
}

// Encodes the channels into memory with the format's writer; the bytes are
// written by the caller, so no library's unchecked write reaches the disk.
std::vector<unsigned char> Encode(const std::string& path, int w, int h, const std::vector<OutChannel>& chans,
                                  const OIIO::ImageSpec& base) {
  OIIO::ImageSpec layout = base;
  layout.width = layout.full_width = w;
  layout.height = layout.full_height = h;
  layout.nchannels = int(chans.size());
  layout.channelnames.clear();
  layout.channelformats.clear();
  layout.alpha_channel = layout.z_channel = -1;
  bool mixed = false;
  for (size_t c = 0; c < chans.size(); ++c) {
    layout.channelnames.push_back(chans[c].name);
    layout.channelformats.push_back(chans[c].type);
    mixed = mixed || chans[c].type != chans[0].type;
    if (chans[c].name == "A") layout.alpha_channel = int(c);
    if (chans[c].name == "Z") layout.z_channel = int(c);
  }
  layout.format = chans.empty() ? OIIO::TypeDesc::FLOAT : chans[0].type;
  if (!mixed) layout.channelformats.clear();
  LargeVector<float> pixels(size_t(w) * size_t(h) * chans.size());
  for (size_t i = 0; i < size_t(w) * size_t(h); ++i)
    for (size_t c = 0; c < chans.size(); ++c) pixels[i * chans.size() + c] = chans[c].data[i];
  auto out = OIIO::ImageOutput::create(path);
  if (!out || !out->supports("ioproxy"))
    throw UsageError("cannot write " + path + ": no image writer for its extension");
  std::vector<unsigned char> bytes;
  OIIO::Filesystem::IOVecOutput memory(bytes);
  OIIO::Filesystem::IOProxy* proxy = &memory;
  layout.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy);
  if (!out->open(path, layout) || !out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) || !out->close())
    throw std::runtime_error("cannot write " + path + ": " + out->geterror());
  return bytes;
}

void WriteChannels(const std::string& path, int w, int h, const std::vector<OutChannel>& chans,
                   const OIIO::ImageSpec& base) {
  const std::vector<unsigned char> bytes = Encode(path, w, h, chans, base);
  WriteBytesSafely(path, bytes.data(), bytes.size());
}

void WriteDisplay(const std::string& path, const Image& img) {
  const std::string ext = Lower(std::filesystem::path(path).extension().string());
  const bool alpha = ext != ".jpg" && ext != ".jpeg" && ext != ".bmp" && ext != ".ppm" && ext != ".pnm";
  const size_t n = size_t(img.Width) * size_t(img.Height);
  std::vector<float> rgb[4];
  for (auto& p : rgb) p.resize(n);
  const float *R = img.Plane(CHAN_RED), *G = img.Plane(CHAN_GREEN), *B = img.Plane(CHAN_BLUE),
              *A = img.Plane(CHAN_ALPHA);
  for (size_t i = 0; i < n; ++i) {
    // Straight colour for files with alpha; over black for those without.
    const float a = alpha ? A[i] : 1.0f;
    const float inv = alpha && a > 0.0f ? 1.0f / a : 1.0f;
    rgb[0][i] = LinearToSrgb(R[i] * inv);
    rgb[1][i] = LinearToSrgb(G[i] * inv);
    rgb[2][i] = LinearToSrgb(B[i] * inv);
    rgb[3][i] = std::isfinite(A[i]) ? std::min(std::max(A[i], 0.0f), 1.0f) : 0.0f;
  }
  std::vector<OutChannel> chans{{"R", OIIO::TypeDesc::UINT8, rgb[0].data()},
                                {"G", OIIO::TypeDesc::UINT8, rgb[1].data()},
                                {"B", OIIO::TypeDesc::UINT8, rgb[2].data()}};
  if (alpha) chans.push_back({"A", OIIO::TypeDesc::UINT8, rgb[3].data()});
  OIIO::ImageSpec layout;
  layout.attribute("oiio:ColorSpace", "sRGB");
  layout.attribute("oiio:UnassociatedAlpha", 1);
  WriteChannels(path, img.Width, img.Height, chans, layout);
}

}  // namespace

void WriteImageFile(const std::string& path, const Image& img, const FileImage* source, const ChannelPick& pick,
                    OutputDepth depth, const std::function<void(const std::string&)>& warn) {
  if (IsDisplayFormat(path)) return WriteDisplay(path, img);
  std::vector<OutChannel> chans;
  std::set<std::string> taken;
  const int host[] = {CHAN_RED, CHAN_GREEN, CHAN_BLUE, CHAN_ALPHA, CHAN_Z, CHAN_VECTX, CHAN_VECTY};
  const auto& roles = channel_names::Roles();
  const bool all = IsExr(path);
  std::map<std::string, int> uses;  // how many roles read each file channel
  for (auto& rn : pick.role_to_name) ++uses[rn.second];
  for (size_t r = 0; r < roles.size(); ++r) {
    const float* plane = img.Plane(host[r]);
    if (!plane || (!all && r > 3)) continue;
    auto it = pick.role_to_name.find(roles[r]);
    // Colour keeps the input's names; Z and the vectors that the input's own
    // file did not carry get the tool's names, and so do roles that read one
    // file channel together (--channels R=G), so that no name is written twice.
    std::string name = it != pick.role_to_name.end() && uses[it->second] == 1 ? it->second : roles[r];
    for (int k = 2; taken.count(name); ++k) name = roles[r] + "." + std::to_string(k);
    taken.insert(name);
    chans.push_back({name, SourceType(source, it != pick.role_to_name.end() ? it->second : name), plane});
  }
  // The input's other channels ride along; one whose name a role took is the
  // input's own, unprocessed, and says so.
  if (all)
    for (auto& e : img.Extra) {
      std::string name = e.name;
      if (taken.count(name)) name = e.name + "_input";
      for (int k = 2; taken.count(name); ++k) name = e.name + "_input" + std::to_string(k);
      taken.insert(name);
      chans.push_back({name, SourceType(source, e.name), e.data.data()});
    }
  for (auto& c : chans) {
    if (depth == OutputDepth::Half) c.type = OIIO::TypeDesc::HALF;
    if (depth == OutputDepth::Float) c.type = OIIO::TypeDesc::FLOAT;
  }
  // Half channels: values beyond half's range become its largest finite value.
  std::vector<std::vector<float>> held;
  size_t count = 0;
  for (auto& c : chans) {
    if (c.type != OIIO::TypeDesc::HALF) continue;
    const size_t n = size_t(img.Width) * size_t(img.Height);
    size_t beyond = 0;
    for (size_t i = 0; i < n; ++i) beyond += std::fabs(c.data[i]) > kHalfMax;
    if (!beyond) continue;
    held.emplace_back(c.data, c.data + n);
    for (float& v : held.back())
      if (std::fabs(v) > kHalfMax) v = std::copysign(kHalfMax, v);
    c.data = held.back().data();
    count += beyond;
  }
  if (count && warn)
    warn("warning: " + path + ": " + std::to_string(count) +
         " values beyond the half-float range written as +-65504 (use --data-type float to keep them)");
  OIIO::ImageSpec layout;
  if (all) layout.attribute("compression", "zip");
  WriteChannels(path, img.Width, img.Height, chans, layout);
}

bool CanWriteImage(const std::string& path) {
  if (fs::path(path).extension().empty()) return false;
  auto out = OIIO::ImageOutput::create(path);
  return out && out->supports("ioproxy");
}

void CheckPreviewPath(const std::string& path) {
  if (!IsDisplayFormat(path)) throw UsageError("--preview " + path + ": a preview is a PNG or JPEG file");
}

void WritePreview(const std::string& path, const Image& img) {
  CheckPreviewPath(path);
  WriteDisplay(path, img);
}
