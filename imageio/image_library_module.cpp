// The image-library module's functions (host/ImageLibrary.h), over
// OpenImageIO. Nothing else in the project links OpenImageIO.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cctype>

#include "host/ImageLibrary.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

SampleType TypeOf(OIIO::TypeDesc t) {
  if (t == OIIO::TypeDesc::UINT8) return SampleType::Uint8;
  if (t == OIIO::TypeDesc::UINT16) return SampleType::Uint16;
  if (t == OIIO::TypeDesc::HALF) return SampleType::Half;
  if (t == OIIO::TypeDesc::FLOAT) return SampleType::Float;
  if (t == OIIO::TypeDesc::UINT32) return SampleType::Uint;
  return SampleType::Other;
}

OIIO::TypeDesc DescOf(SampleType t) {
  switch (t) {
    case SampleType::Uint8: return OIIO::TypeDesc::UINT8;
    case SampleType::Uint16: return OIIO::TypeDesc::UINT16;
    case SampleType::Half: return OIIO::TypeDesc::HALF;
    case SampleType::Uint: return OIIO::TypeDesc::UINT32;
    default: return OIIO::TypeDesc::FLOAT;
  }
}

std::string ReadUnguarded(const std::string& path, const std::string& format,
                 const std::function<std::string(int, int, int64_t)>& check, DecodedPicture& img) {
  auto in = OIIO::ImageInput::create(format);
  OIIO::ImageSpec header;
  if (!in || !in->open(path, header)) return in ? in->geterror() : OIIO::geterror();
  // The parts the tool uses (those of the first part's size), judged from
  // their headers before any pixel is read.
  std::vector<std::pair<int, OIIO::ImageSpec>> parts;
  int64_t channels = 0;
  OIIO::ImageSpec layout;
  for (int sub = 0; in->seek_subimage(sub, 0, layout); ++sub) {
    if (sub > 0 && (layout.width != parts[0].second.width || layout.height != parts[0].second.height)) continue;
    if (layout.deep) return "deep images are not supported";
    if (layout.width <= 0 || layout.height <= 0 || layout.nchannels <= 0) return "its header describes an empty image";
    if (int64_t(layout.width) * layout.height > (int64_t(1) << 31))
      return std::to_string(layout.width) + " x " + std::to_string(layout.height) + " is too large";
    channels += layout.nchannels;
    parts.emplace_back(sub, layout);
  }
  if (parts.empty()) return in->geterror();
  const int width = parts[0].second.width, height = parts[0].second.height;
  if (std::string refused = check(width, height, channels); !refused.empty()) return refused;
  img.width = width;
  img.height = height;
  img.display_encoded = parts[0].second.format.basetype == OIIO::TypeDesc::UINT8 &&
                        Lower(parts[0].second.get_string_attribute("oiio:ColorSpace")) == "srgb";
  for (const auto& [sub, part] : parts) {
    const int n = part.nchannels;
    LargeVector<float> pixels(size_t(width) * size_t(height) * size_t(n));
    if (!in->read_image(sub, 0, 0, n, OIIO::TypeDesc::FLOAT, pixels.data())) return in->geterror();
    const std::string part_name = part.get_string_attribute("oiio:subimagename");
    std::vector<std::pair<size_t, float*>> kept;  // file channel, its plane
    for (int c = 0; c < n; ++c) {
      std::string name = c < int(part.channelnames.size()) ? part.channelnames[c] : "channel" + std::to_string(c);
      if (sub > 0 && !part_name.empty() && name.find('.') == std::string::npos) name = part_name + "." + name;
      if (std::find(img.names.begin(), img.names.end(), name) != img.names.end()) continue;
      img.names.push_back(name);
      img.types.push_back(TypeOf(part.channelformat(c)));
      img.planes.emplace_back(size_t(width) * size_t(height));
      kept.push_back({size_t(c), nullptr});
    }
    for (size_t k = 0; k < kept.size(); ++k) kept[k].second = img.planes[img.planes.size() - kept.size() + k].data();
    const size_t count = size_t(width) * size_t(height);
    for (size_t i = 0; i < count; ++i) {
      const float* px = pixels.data() + i * size_t(n);
      for (const auto& kp : kept) kp.second[i] = px[kp.first];
    }
  }
  return "";
}

// Encodes into memory; the caller writes the bytes with its own checked writes.
std::string EncodeUnguarded(const std::string& path, int w, int h, const std::vector<PlaneToEncode>& planes,
                   bool srgb_straight, std::vector<unsigned char>& bytes) {
  OIIO::ImageSpec layout;
  if (srgb_straight) {
    layout.attribute("oiio:ColorSpace", "sRGB");
    layout.attribute("oiio:UnassociatedAlpha", 1);
  }
  layout.width = layout.full_width = w;
  layout.height = layout.full_height = h;
  layout.nchannels = int(planes.size());
  layout.channelnames.clear();
  layout.channelformats.clear();
  layout.alpha_channel = layout.z_channel = -1;
  bool mixed = false;
  for (size_t c = 0; c < planes.size(); ++c) {
    layout.channelnames.push_back(planes[c].name);
    layout.channelformats.push_back(DescOf(planes[c].type));
    mixed = mixed || planes[c].type != planes[0].type;
    if (planes[c].name == "A") layout.alpha_channel = int(c);
    if (planes[c].name == "Z") layout.z_channel = int(c);
  }
  layout.format = planes.empty() ? OIIO::TypeDesc::FLOAT : DescOf(planes[0].type);
  if (!mixed) layout.channelformats.clear();
  std::vector<float> pixels(size_t(w) * size_t(h) * planes.size());
  for (size_t i = 0; i < size_t(w) * size_t(h); ++i)
    for (size_t c = 0; c < planes.size(); ++c) pixels[i * planes.size() + c] = planes[c].data[i];
  auto out = OIIO::ImageOutput::create(path);
  if (!out || !out->supports("ioproxy")) return "no image writer for its extension";
  OIIO::Filesystem::IOVecOutput memory(bytes);
  OIIO::Filesystem::IOProxy* proxy = &memory;
  layout.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy);
  if (!out->open(path, layout) || !out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) || !out->close())
    return out->geterror();
  return "";
}

bool CanWrite(const std::string& path) {
  auto out = OIIO::ImageOutput::create(path);
  return out && out->supports("ioproxy");
}

std::string Attributes(const std::string& path, std::vector<HeaderAttribute>& out) {
  auto in = OIIO::ImageInput::open(path);
  OIIO::ImageSpec layout;
  if (!in || !in->seek_subimage(0, 0, layout)) return in ? in->geterror() : OIIO::geterror();
  for (const OIIO::ParamValue& p : layout.extra_attribs) {
    HeaderAttribute a;
    a.name = p.name().string();
    if (p.type() == OIIO::TypeDesc::INT) {
      a.kind = HeaderAttribute::Integer;
      a.number = p.get_int();
    } else if (p.type() == OIIO::TypeDesc::FLOAT) {
      a.kind = HeaderAttribute::Real;
      a.number = p.get_float();
    } else {
      a.text = p.get_string();
    }
    out.push_back(std::move(a));
  }
  return "";
}

std::string ResizeUnguarded(const float* const* planes, int n, int w, int h, float* const* out, int ow, int oh) {
  OIIO::ImageBuf src(OIIO::ImageSpec(w, h, n, OIIO::TypeDesc::FLOAT));
  std::vector<float> interleaved(size_t(w) * h * n);
  for (size_t i = 0; i < size_t(w) * h; ++i)
    for (int c = 0; c < n; ++c) interleaved[i * n + c] = planes[c][i];
  src.set_pixels(OIIO::ROI(0, w, 0, h, 0, 1, 0, n), OIIO::TypeDesc::FLOAT, interleaved.data());
  OIIO::ImageBuf dst(OIIO::ImageSpec(ow, oh, n, OIIO::TypeDesc::FLOAT));
  // Kernel-sized images: one thread, and no pool of OpenImageIO's own
  // competing with the host's workers.
  if (!OIIO::ImageBufAlgo::resize(dst, src, "", 0.0f, OIIO::ROI::All(), 1)) return dst.geterror();
  std::vector<float> result(size_t(ow) * oh * n);
  dst.get_pixels(OIIO::ROI(0, ow, 0, oh, 0, 1, 0, n), OIIO::TypeDesc::FLOAT, result.data());
  for (size_t i = 0; i < size_t(ow) * oh; ++i)
    for (int c = 0; c < n; ++c) out[c][i] = result[i * n + c];
  return "";
}

// No exception crosses the module's edge: each becomes the reason returned.
template <typename Fn>
std::string Guarded(Fn&& fn) {
  try {
    return fn();
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string Read(const std::string& path, const std::string& format,
                 const std::function<std::string(int, int, int64_t)>& check, DecodedPicture& img) {
  return Guarded([&] { return ReadUnguarded(path, format, check, img); });
}
std::string Encode(const std::string& path, int w, int h, const std::vector<PlaneToEncode>& planes,
                   bool srgb_straight, std::vector<unsigned char>& bytes) {
  return Guarded([&] { return EncodeUnguarded(path, w, h, planes, srgb_straight, bytes); });
}
std::string Resize(const float* const* planes, int n, int w, int h, float* const* out, int ow, int oh) {
  return Guarded([&] { return ResizeUnguarded(planes, n, w, h, out, ow, oh); });
}

const ImageLibraryTable kTable{kImageLibraryVersion, &Read, &Encode, &CanWrite, &Attributes, &Resize};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ImageLibraryTable* quorvex_image_library() { return &kTable; }
