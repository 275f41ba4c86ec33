// EXR files through OpenEXR: files OpenImageIO writes (every layout and
// compression) read into planes, written back with their headers kept, and
// read again by OpenImageIO with the same channels, attributes and pixels.
#include <gtest/gtest.h>

#include <Imath/half.h>
#include <OpenImageIO/deepdata.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "app/exr_file.h"
#include "app/image_io.h"
#include "app/usage_error.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const int kW = 37, kH = 21;  // odd sizes: partial tiles and chunks
const uint32_t kBigId = 4000000001u;  // no float holds it exactly

struct Layout {
  const char* what;
  bool tiled;
  bool two_parts;
};

struct Codec {
  const char* name;
  double half_error, float_error;  // relative error each codec may leave (0: lossless)
};

// Test names say the case, not the bytes of the parameters.
void PrintTo(const Layout& l, std::ostream* os) { *os << l.what; }
void PrintTo(const Codec& c, std::ostream* os) { *os << c.name; }

const Layout kLayouts[] = {{"scanline", false, false}, {"tiled", true, false}, {"multipart", false, true},
                           {"tiled-multipart", true, true}};
const Codec kCodecs[] = {{"none", 0, 0},       {"rle", 0, 0},          {"zips", 0, 0},
                         {"zip", 0, 0},        {"piz", 0, 0},          {"pxr24", 0, 1e-4},
                         {"b44", 0.02, 0},     {"b44a", 0.02, 0},      {"dwaa", 0.08, 0.08},
                         {"dwab", 0.08, 0.08}};

float Value(int channel, int x, int y) { return 0.25f + 0.01f * float(x) + 0.02f * float(y) + 0.3f * float(channel); }
uint32_t Id(int x, int y) { return kBigId + uint32_t(x + y * kW); }

// The first part: layered colour and depth (half, float) and a uint id;
// the second: a part of its own name with a float normal.
std::vector<OIIO::ImageSpec> Specs(const Layout& layout, const std::string& codec) {
  OIIO::ImageSpec beauty(kW, kH, 6, OIIO::TypeDesc::FLOAT);
  beauty.channelnames = {"R", "G", "B", "A", "diffuse.R", "id"};
  beauty.channelformats = {OIIO::TypeDesc::HALF,  OIIO::TypeDesc::HALF,  OIIO::TypeDesc::HALF,
                           OIIO::TypeDesc::HALF,  OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::UINT32};
  OIIO::ImageSpec aux(kW, kH, 2, OIIO::TypeDesc::FLOAT);
  aux.channelnames = {"N.x", "Z"};
  std::vector<OIIO::ImageSpec> headers{beauty};
  if (layout.two_parts) headers.push_back(aux);
  for (size_t p = 0; p < headers.size(); ++p) {
    OIIO::ImageSpec& s = headers[p];
    s.x = 3;  // a data window inside a larger display window
    s.y = 2;
    s.full_x = 0;
    s.full_y = 0;
    s.full_width = kW + 10;
    s.full_height = kH + 6;
    s.attribute("compression", codec);
    s.attribute("studio:shot", "sh010");
    s.attribute("studio:take", 7);
    s.attribute("studio:exposure", 1.5f);
    const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1};
    s.attribute("worldToCamera", OIIO::TypeMatrix, m);
    if (layout.tiled) {
      s.tile_width = 16;
      s.tile_height = 8;
    }
    if (layout.two_parts) s.attribute("oiio:subimagename", p == 0 ? "beauty" : "aux");
  }
  return headers;
}

void WriteWithOiio(const std::string& path, const std::vector<OIIO::ImageSpec>& headers) {
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out->open(path, int(headers.size()), headers.data())) << out->geterror();
  for (size_t p = 0; p < headers.size(); ++p) {
    if (p > 0) {
      ASSERT_TRUE(out->open(path, headers[p], OIIO::ImageOutput::AppendSubimage)) << out->geterror();
    }
    const OIIO::ImageSpec& s = headers[p];
    // Native layout: each channel in its own type, interleaved.
    std::vector<unsigned char> px(s.image_bytes(true));
    unsigned char* at = px.data();
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        for (int c = 0; c < s.nchannels; ++c) {
          const OIIO::TypeDesc t = s.channelformat(c);
          const int global = int(p) * 10 + c;
          if (t == OIIO::TypeDesc::UINT32) {
            const uint32_t v = Id(x, y);
            std::memcpy(at, &v, 4);
          } else if (t == OIIO::TypeDesc::HALF) {
            const Imath::half v(Value(global, x, y));
            std::memcpy(at, &v, 2);
          } else {
            const float v = Value(global, x, y);
            std::memcpy(at, &v, 4);
          }
          at += t.size();
        }
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UNKNOWN, px.data())) << out->geterror();
  }
  ASSERT_TRUE(out->close());
}

struct OiioPart {
  OIIO::ImageSpec layout;
  std::vector<float> px;  // float-converted, interleaved
  std::vector<uint32_t> ids;  // the "id" channel, exact
};

std::vector<OiioPart> ReadWithOiio(const std::string& path) {
  std::vector<OiioPart> parts;
  auto in = OIIO::ImageInput::open(path);
  EXPECT_TRUE(in) << OIIO::geterror();
  if (!in) return parts;
  OIIO::ImageSpec s;
  for (int p = 0; in->seek_subimage(p, 0, s); ++p) {
    OiioPart part{s, std::vector<float>(size_t(s.width) * s.height * s.nchannels), {}};
    EXPECT_TRUE(in->read_image(p, 0, 0, s.nchannels, OIIO::TypeDesc::FLOAT, part.px.data())) << in->geterror();
    const int id = s.channelindex("id");
    if (id >= 0) {
      part.ids.resize(size_t(s.width) * s.height);
      EXPECT_TRUE(in->read_image(p, 0, id, id + 1, OIIO::TypeDesc::UINT32, part.ids.data()));
    }
    parts.push_back(std::move(part));
  }
  return parts;
}

// Attributes by name and value, the ones the writer sets itself left out.
std::map<std::string, std::string> AttributesOf(const OIIO::ImageSpec& s) {
  std::map<std::string, std::string> a;
  for (const OIIO::ParamValue& p : s.extra_attribs)
    if (p.name().string().rfind("quorvex:", 0) != 0 && p.name() != "oiio:subimages") a[p.name().string()] = p.get_string();
  return a;
}

void ExpectClose(float got, float want, double relative, const std::string& where) {
  if (relative == 0)
    ASSERT_EQ(got, want) << where;
  else
    ASSERT_NEAR(got, want, relative * std::fabs(want) + 1e-3) << where;
}

class ExrFile : public ::testing::TestWithParam<std::tuple<Layout, Codec>>, protected testing_support::TempDir {};

TEST_P(ExrFile, ReadsOiioFilesAndWritesThemBackWithHeadersAndPixels) {
  const auto& [layout, codec] = GetParam();
  const std::string in_path = P("in.exr"), out_path = P("out.exr");
  WriteWithOiio(in_path, Specs(layout, codec.name));
  const std::vector<OiioPart> written = ReadWithOiio(in_path);
  ASSERT_FALSE(written.empty());

  // Read: every channel, part-prefixed in later parts, at the data window's size.
  const FileImage file = ReadImageFile(in_path);
  ASSERT_EQ(file.width, kW);
  ASSERT_EQ(file.height, kH);
  std::vector<std::string> expected{"R", "G", "B", "A", "diffuse.R", "id"};
  // A later part's channel is named with its part unless it names a layer of its own.
  if (layout.two_parts) expected.insert(expected.end(), {"N.x", "aux.Z"});
  ASSERT_EQ(file.names, expected);
  EXPECT_EQ(file.types[size_t(file.Index("R"))], SampleType::Half);
  EXPECT_EQ(file.types[size_t(file.Index("diffuse.R"))], SampleType::Float);
  EXPECT_EQ(file.types[size_t(file.Index("id"))], SampleType::Uint);
  // Pixels as OpenImageIO decodes them (the same codec's output).
  for (size_t p = 0; p < written.size(); ++p) {
    const OiioPart& w = written[p];
    for (int c = 0; c < w.layout.nchannels; ++c) {
      std::string name = w.layout.channelnames[size_t(c)];
      if (p > 0 && name.find('.') == std::string::npos) name = "aux." + name;
      const int i = file.Index(name);
      ASSERT_GE(i, 0) << name;
      if (name == "id") continue;  // OpenImageIO scales uint to 0..1; the plane holds the numbers (checked below)
      for (size_t k = 0; k < size_t(kW) * kH; ++k)
        ASSERT_EQ(file.planes[size_t(i)][k], w.px[k * size_t(w.layout.nchannels) + size_t(c)]) << name << " " << k;
    }
  }
  const uint32_t* exact = exr_file::ExactSamples(file, "id");
  ASSERT_NE(exact, nullptr);
  for (int k = 0; k < kW * kH; ++k) {
    ASSERT_EQ(exact[k], Id(k % kW, k / kW));
    ASSERT_EQ(file.planes[size_t(file.Index("id"))][size_t(k)], float(Id(k % kW, k / kW)));
  }

  // Write back from the image the file makes, then OpenImageIO reads it.
  ChannelPick pick;
  Image* img = MakeHostImage(file, {}, pick);
  WriteImageFile(out_path, *img, &file, pick, OutputDepth::Auto, {}, {"", {{"quorvex:version", "test"}}});
  img->Recycle();
  // The command's own reader takes what it wrote (its offset tables are
  // checked first), and zip and zips chunks really are deflated.
  const FileImage again = ReadImageFile(out_path);
  ASSERT_EQ(again.names, file.names);
  for (size_t c = 0; c < again.planes.size(); ++c) {
    const double err = file.types[c] == SampleType::Half ? codec.half_error : codec.float_error;
    for (size_t k = 0; k < size_t(kW) * kH; ++k) ExpectClose(again.planes[c][k], file.planes[c][k], err, again.names[c]);
  }
  if (std::string(codec.name).rfind("zip", 0) == 0) {
    const std::string raw_path = P("raw.exr");
    Image* raw = MakeHostImage(file, {}, pick);
    WriteImageFile(raw_path, *raw, &file, pick, OutputDepth::Auto, {}, {"none", {}});
    raw->Recycle();
    EXPECT_LT(fs::file_size(out_path), fs::file_size(raw_path) * 9 / 10) << "zip chunks left undeflated";
  }
  const std::vector<OiioPart> back = ReadWithOiio(out_path);
  ASSERT_EQ(back.size(), written.size());
  EXPECT_EQ(back[0].layout.get_string_attribute("quorvex:version"), "test");
  for (size_t p = 0; p < back.size(); ++p) {
    const OIIO::ImageSpec &a = written[p].layout, &b = back[p].layout;
    EXPECT_EQ(b.get_string_attribute("oiio:subimagename"), a.get_string_attribute("oiio:subimagename"));
    EXPECT_EQ(std::tie(b.x, b.y, b.width, b.height), std::tie(a.x, a.y, a.width, a.height));
    EXPECT_EQ(std::tie(b.full_x, b.full_y, b.full_width, b.full_height),
              std::tie(a.full_x, a.full_y, a.full_width, a.full_height));
    EXPECT_EQ(b.tile_width, 0) << "tiled inputs give scanline outputs";
    EXPECT_EQ(b.channelnames, a.channelnames);
    for (int c = 0; c < a.nchannels; ++c) EXPECT_EQ(b.channelformat(c), a.channelformat(c)) << a.channelnames[c];
    auto attrs_a = AttributesOf(a), attrs_b = AttributesOf(b);
    if (layout.tiled) {  // written as scanlines: chunks of lines, not tiles
      attrs_a.erase("openexr:chunkCount");
      attrs_b.erase("openexr:chunkCount");
    }
    EXPECT_EQ(attrs_b, attrs_a);
    for (int c = 0; c < a.nchannels; ++c) {
      if (a.channelnames[c] == "id") continue;  // compared exactly below
      const double err = a.channelformat(c) == OIIO::TypeDesc::HALF ? codec.half_error : codec.float_error;
      for (size_t k = 0; k < size_t(kW) * kH; ++k) {
        const size_t at = k * size_t(a.nchannels) + size_t(c);
        ExpectClose(back[p].px[at], written[p].px[at], err, a.channelnames[c]);
      }
    }
    EXPECT_EQ(back[p].ids, written[p].ids) << "uint samples pass through exactly";
  }
}

INSTANTIATE_TEST_SUITE_P(LayoutsAndCodecs, ExrFile, ::testing::Combine(::testing::ValuesIn(kLayouts), ::testing::ValuesIn(kCodecs)),
                         [](const auto& info) {
                           std::string n = std::string(std::get<0>(info.param).what) + "_" + std::get<1>(info.param).name;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

TEST(ExrFileRules, CompressionIsTheChosenOneOrTheInputPartsAndDeepPartsAreRefused) {
  const testing_support::TempDir t;
  const std::string in = t.P("in.exr"), out = t.P("out.exr");
  WriteWithOiio(in, Specs(kLayouts[0], "dwaa"));
  const FileImage file = ReadImageFile(in);
  ChannelPick pick;
  Image* img = MakeHostImage(file, {}, pick);
  for (const std::string chosen : {"", "piz", "zips", "none"}) {
    WriteImageFile(out, *img, &file, pick, OutputDepth::Auto, {}, {chosen, {}});
    auto back = ReadWithOiio(out);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].layout.get_string_attribute("compression"), chosen.empty() ? "dwaa" : chosen);
  }
  EXPECT_THROW(WriteImageFile(out, *img, &file, pick, OutputDepth::Auto, {}, {"lzw", {}}), UsageError);
  // With no EXR source (a PNG input, Python's arrays): one zip part of the image's channels.
  WriteImageFile(out, *img, nullptr, pick, OutputDepth::Auto);
  auto fresh = ReadWithOiio(out);
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_EQ(fresh[0].layout.get_string_attribute("compression"), "zip");
  std::vector<std::string> names = fresh[0].layout.channelnames;
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "G", "R", "diffuse.R", "id"}));
  img->Recycle();

  OIIO::ImageSpec deep(4, 4, 1, OIIO::TypeDesc::FLOAT);
  deep.channelnames = {"Z"};
  deep.deep = true;
  const std::string deep_path = t.P("deep.exr");
  auto o = OIIO::ImageOutput::create(deep_path);
  ASSERT_TRUE(o->open(deep_path, deep));
  OIIO::DeepData data(deep);
  ASSERT_TRUE(o->write_deep_image(data));
  o->close();
  try {
    ReadImageFile(deep_path);
    ADD_FAILURE() << "a deep file was read";
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("deep images are not supported"), std::string::npos) << e.what();
  }
}

}  // namespace
