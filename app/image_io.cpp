#include "app/image_io.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

#include "app/channel_names.h"
#include "app/exr_chunks.h"
#include "app/exr_file.h"
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
  // The parts the tool uses, judged from their headers before any pixel is read.
  auto refuse = [&](int width, int height, int64_t channels) -> std::string {
    const uint64_t need = input_rules::FrameMemoryEstimate(width, height, channels);
    if (need <= max_memory) return "";
    return "a " + std::to_string(width) + " x " + std::to_string(height) + " frame of " +
           std::to_string(channels) + " channels needs about " + input_rules::FormatMemorySize(need) +
           " to render, more than --max-memory " + input_rules::FormatMemorySize(max_memory);
  };
  if (format == "openexr")
    return exr_file::Read(path, [&](int width, int height, int64_t channels) {
      if (std::string why = refuse(width, height, channels); !why.empty())
        throw UsageError("cannot read " + path + ": " + why);
    });
  DecodedPicture picture;
  std::string error;
  try {
    error = ImageLibrary().Read(path, format, refuse, picture);
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!error.empty()) throw UsageError("cannot read " + path + ": " + error);
  FileImage img;
  img.path = path;
  img.width = picture.width;
  img.height = picture.height;
  img.display_encoded = picture.display_encoded;
  img.names = std::move(picture.names);
  img.types = std::move(picture.types);
  img.planes = std::move(picture.planes);
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

SampleType SourceType(const FileImage* source, const std::string& name) {
  if (!source) return SampleType::Float;
  int i = source->Index(name);
  if (i < 0) return SampleType::Float;
  const SampleType t = source->types[size_t(i)];
  return t == SampleType::Half || t == SampleType::Uint ? t : SampleType::Float;
}

// Encodes through the image-library module into memory; the bytes are
// written here, so no library's unchecked write reaches the disk.
void WriteThroughLibrary(const std::string& path, int w, int h, const std::vector<PlaneToEncode>& planes,
                         bool srgb_straight) {
  std::vector<unsigned char> bytes;
  const std::string error = ImageLibrary().Encode(path, w, h, planes, srgb_straight, bytes);
  if (!error.empty()) throw std::runtime_error("cannot write " + path + ": " + error);
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
  std::vector<PlaneToEncode> chans{{"R", SampleType::Uint8, rgb[0].data()},
                                   {"G", SampleType::Uint8, rgb[1].data()},
                                   {"B", SampleType::Uint8, rgb[2].data()}};
  if (alpha) chans.push_back({"A", SampleType::Uint8, rgb[3].data()});
  WriteThroughLibrary(path, img.Width, img.Height, chans, true);
}

}  // namespace

void WriteImageFile(const std::string& path, const Image& img, const FileImage* source, const ChannelPick& pick,
                    OutputDepth depth, const std::function<void(const std::string&)>& warn,
                    const ExrOutputSettings& exr) {
  if (IsDisplayFormat(path)) return WriteDisplay(path, img);
  std::vector<exr_file::OutChannel> chans;
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
      const SampleType type = SourceType(source, e.name);
      // A uint channel passing through keeps its exact samples.
      const uint32_t* exact = type == SampleType::Uint && source ? exr_file::ExactSamples(*source, e.name) : nullptr;
      chans.push_back({name, type, e.data.data(), exact});
    }
  for (auto& c : chans) {
    if (c.type == SampleType::Uint && c.exact) continue;  // identifiers stay whole numbers
    if (depth == OutputDepth::Half) c.type = SampleType::Half;
    if (depth == OutputDepth::Float) c.type = SampleType::Float;
  }
  // Half channels: values beyond half's range become its largest finite value.
  std::vector<std::vector<float>> held;
  size_t count = 0;
  for (auto& c : chans) {
    if (c.type != SampleType::Half) continue;
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
  if (all) {
    auto red = pick.role_to_name.find("R");
    const std::vector<char> bytes =
        exr_file::Encode(img.Width, img.Height, chans, source, red == pick.role_to_name.end() ? "" : red->second,
                         {exr.compression, exr.attributes});
    WriteBytesSafely(path, bytes.data(), bytes.size());
    return;
  }
  std::vector<PlaneToEncode> planes;
  for (auto& c : chans) planes.push_back({c.name, c.type, c.data});
  WriteThroughLibrary(path, img.Width, img.Height, planes, false);
}

bool CanWriteImage(const std::string& path) {
  if (fs::path(path).extension().empty()) return false;
  if (IsExr(path)) return true;
  return ImageLibrary().CanWrite(path);
}

void CheckPreviewPath(const std::string& path) {
  if (!IsDisplayFormat(path)) throw UsageError("--preview " + path + ": a preview is a PNG or JPEG file");
}

void WritePreview(const std::string& path, const Image& img) {
  CheckPreviewPath(path);
  WriteDisplay(path, img);
}
